// The assigning pass of the codebook training: every vector searched from
// its label, unless bounds prove that no code vector is strictly nearer,
// with the partition totals, the distortion and the refill's candidates
// gathered on the way.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <thread>

#include "cb_internal.h"
#include "nearest_search.h"
#include "training_internal.h"
#include "vqpeek/threads.h"

namespace cb_internal {

namespace {

// A bound made from a distance is rounded toward zero by this much, far
// more than the rounding of the arithmetic that made it, so that it stays a
// lower bound of the exact distance.
constexpr double kBoundMargin = 1e-12;

// --- Distances to the vectors' own code vectors ----------------------------
//
// The squared distance of each row from the code vector of its label. The
// sums are exact in 32-bit lanes when the spread of the values keeps them
// there, else in 64 bits; past that the plain distance takes over, which
// holds a sum beyond the int64 range at its largest value, as every search
// does. Cloned for wider vector units: every vector takes it in every pass.

template <typename Sum, typename T>
inline void OwnDistancesOf(const T* VQ_RESTRICT rows, int count, int dim,
                           const int* const* VQ_RESTRICT codes, std::int64_t* VQ_RESTRICT out) {
  const std::size_t width = static_cast<std::size_t>(dim);
  for (int k = 0; k < count; ++k) {
    const T* x = rows + static_cast<std::size_t>(k) * width;
    const int* c = codes[k];
    Sum sum = 0;
    for (std::size_t e = 0; e < width; ++e) {
      const Sum difference = static_cast<Sum>(x[e]) - static_cast<Sum>(c[e]);
      sum += difference * difference;
    }
    out[k] = sum;
  }
}

#define VQ_OWN_DISTANCES(Name, Sum, T)                                                        \
  VQ_WIDE_VECTOR_CLONES void Name(const T* rows, int count, int dim, const int* const* codes, \
                                  std::int64_t* out) {                                        \
    OwnDistancesOf<Sum>(rows, count, dim, codes, out);                                        \
  }
VQ_OWN_DISTANCES(OwnDistances32, std::int32_t, std::uint8_t)
VQ_OWN_DISTANCES(OwnDistances32, std::int32_t, std::uint16_t)
VQ_OWN_DISTANCES(OwnDistances32, std::int32_t, int)
VQ_OWN_DISTANCES(OwnDistances64, std::int64_t, std::uint8_t)
VQ_OWN_DISTANCES(OwnDistances64, std::int64_t, std::uint16_t)
VQ_OWN_DISTANCES(OwnDistances64, std::int64_t, int)
#undef VQ_OWN_DISTANCES

// The lane width that the values of both sets allow.
enum class Lanes { k32, k64, kPlain };

Lanes LanesFor(ValueRange rows, ValueRange codes, int dim) {
  const std::int64_t low = std::min(rows.low, codes.low);
  const std::int64_t high = std::max(rows.high, codes.high);
  const auto spread = static_cast<std::uint64_t>(high - low);
  if (spread > 0xFFFFFFFFu) return Lanes::kPlain;
  const std::uint64_t square = spread * spread;
  const auto width = static_cast<std::uint64_t>(dim);
  if (square == 0 || square <= 2147483647u / width) return Lanes::k32;
  if (square <= 9223372036854775807u / width) return Lanes::k64;
  return Lanes::kPlain;
}

template <typename T>
void OwnDistances(const T* rows, int count, int dim, const int* const* codes, Lanes lanes,
                  std::int64_t* out) {
  if (lanes == Lanes::k32) {
    OwnDistances32(rows, count, dim, codes, out);
  } else if (lanes == Lanes::k64) {
    OwnDistances64(rows, count, dim, codes, out);
  } else {
    std::vector<int> row(static_cast<std::size_t>(dim));
    for (int k = 0; k < count; ++k) {
      std::copy_n(rows + static_cast<std::size_t>(k) * dim, dim, row.data());
      out[k] = SquaredDistance(codes[k], row.data(), dim, kFullDistance);
    }
  }
}

// Freq * distance in 64 bits, held at the int64 limits instead of wrapping,
// as the refill ranks its candidates.
std::int64_t WeightedDistance(std::int64_t distance, int freq) {
  std::int64_t product;
  if (!__builtin_mul_overflow(distance, static_cast<std::int64_t>(freq), &product)) return product;
  return (distance < 0) == (freq < 0) ? INT64_MAX : INT64_MIN;
}

// The bound of a vector from the distance of its nearest other code vector.
DistanceBound BoundOfSecond(std::int64_t second) {
  return BoundBelow(std::sqrt(static_cast<double>(second)) * (1 - kBoundMargin));
}

// --- Which vectors keep their label -----------------------------------------
//
// In floats, so that the loop runs in vector lanes: a bound is at most
// about 3e9 (the square root of the largest distance), and every step is
// shrunk by far more than a float rounds, so that it stays a lower bound.

constexpr float kBelowF = 1.0f - 1.0f / (1 << 20);  // for a bound that is stored
constexpr float kShrinkF = 1.0f - 1e-5f;            // for a squared bound that is compared

inline float BoundFloat(DistanceBound bound) {
  const std::uint32_t bits = static_cast<std::uint32_t>(bound) << 16;
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// A vector keeps its label when its distance to its code vector a is no
// more than a quarter of the squared distance from a to the nearest other
// code vector (then none is strictly nearer), or no more than the square
// of its bound lowered by how far the other code vectors moved; every
// bound is stored lowered so.
VQ_WIDE_VECTOR_CLONES void DecideByBounds(int count, const std::int64_t* VQ_RESTRICT own,
                                          const int* VQ_RESTRICT label,
                                          const std::int64_t* VQ_RESTRICT quarter,
                                          const float* VQ_RESTRICT decay,
                                          DistanceBound* VQ_RESTRICT bounds,
                                          std::uint8_t* VQ_RESTRICT keep) {
  for (int k = 0; k < count; ++k) {
    const int a = label[k];
    const float bound = BoundFloat(bounds[k]) - decay[a];
    const float squared = static_cast<float>(own[k]);
    const bool byBound = bound > 0 && squared <= bound * bound * kShrinkF;
    keep[k] = static_cast<std::uint8_t>((own[k] <= quarter[a]) | byBound);
    const float below = bound > 0 ? bound * kBelowF : 0.0f;
    std::uint32_t bits;
    std::memcpy(&bits, &below, sizeof bits);
    bounds[k] = static_cast<DistanceBound>(bits >> 16);
  }
}

// --- One worker ------------------------------------------------------------

struct Move {
  int row;   // in the part
  int from;  // -1: from no partition (the first pass)
  int to;
};

// What one worker keeps for a whole pass, and its scratch for one part.
struct Worker {
  TrainingInt128 distortion = 0;
  std::uint64_t totalFreq = 0;
  bool names = false;
  std::int64_t searched = 0;
  // The candidates as a bounded heap whose front ranks last; each with a
  // slot of `candidateRows` when the rows are copied.
  std::vector<TrainingCandidate> heap;
  std::vector<int> candidateRows;

  std::vector<std::int64_t> own;
  std::vector<const int*> codeOf;
  std::vector<int> gathered;  // rows of the part to search
  std::vector<int> start;
  std::vector<int> chosen;
  std::vector<std::int64_t> best;
  std::vector<std::int64_t> second;
  std::vector<int> labelOf;               // per row of the part: its label, then its new one
  std::vector<std::uint8_t> keep;         // per row of the part: it keeps its label unsearched
  std::vector<std::uint8_t> gatherBytes;  // the rows to search, at the part's width
  std::vector<Move> moves;
  ValueRange range;  // of the rows this worker had in the first pass
  bool ranged = false;
  // The changes of this worker's moves to the totals (K x dim, and K
  // frequencies), where it keeps its own; empty when it changes the shared
  // totals.
  std::vector<std::int64_t> sums;
  std::vector<int> sumFreqs;
};

// Workers keep changes of their own to the totals while these take at most
// this many elements; beyond that they share the totals under a lock.
constexpr std::int64_t kMaxWorkerSums = std::int64_t{1} << 18;

// Gives every worker totals of its own where there are several and the
// totals are small.
void GiveOwnSums(std::vector<Worker>& workers, int codes, int dim) {
  const std::int64_t elements = static_cast<std::int64_t>(codes) * dim;
  if (workers.size() < 2 || elements > kMaxWorkerSums) return;
  for (Worker& w : workers) {
    w.sums.assign(static_cast<std::size_t>(elements), 0);
    w.sumFreqs.assign(static_cast<std::size_t>(codes), 0);
  }
}

class PassRunner {
 public:
  PassRunner(TrainingState& state, PassOutcome* outcome) : s_(state), outcome_(outcome) {
    const int K = s_.codeCount;
    capacity_ = std::min<std::int64_t>(K - 1, s_.set.Size());
    copyRows_ = s_.set.Streamed();
  }

  // Assigns rows first .. first+count-1, given as `rows` of the set's
  // width, with their frequencies.
  template <typename T>
  void AssignPart(Worker& w, const T* rows, const int* freqs, int first, int count,
                  ValueRange rowRange) {
    switch (s_.labels.Width) {
      case 1:
        AssignPartWith(w, rows, freqs, first, count, rowRange, s_.labels.Bytes.get());
        break;
      case 2:
        AssignPartWith(w, rows, freqs, first, count, rowRange, s_.labels.Words.get());
        break;
      default:
        AssignPartWith(w, rows, freqs, first, count, rowRange, s_.labels.Ints.get());
        break;
    }
  }

  void Finish(std::vector<Worker>& workers) {
    PassOutcome& out = *outcome_;
    std::vector<TrainingCandidate> all;
    for (std::size_t k = 0; k < workers.size(); ++k) {
      Worker& w = workers[k];
      out.distortion += w.distortion;
      out.totalFreq += w.totalFreq;
      out.names = out.names || w.names;
      out.searched += w.searched;
      for (std::size_t e = 0; e < w.sums.size(); ++e) {
        s_.sums[e] = WrapAdd(s_.sums[e], w.sums[e]);
      }
      for (std::size_t p = 0; p < w.sumFreqs.size(); ++p) {
        s_.freqs[p] = WrapAdd32(s_.freqs[p], w.sumFreqs[p]);
      }
      for (TrainingCandidate c : w.heap) {
        c.worker = static_cast<int>(k);
        all.push_back(c);
      }
    }
    std::sort(all.begin(), all.end(), RanksBefore);
    if (static_cast<std::int64_t>(all.size()) > capacity_) {
      all.resize(static_cast<std::size_t>(capacity_));
    }
    out.candidates = std::move(all);
    out.candidateRows.clear();
    for (Worker& w : workers) out.candidateRows.push_back(std::move(w.candidateRows));
  }

 private:
  template <typename T, typename L>
  void AssignPartWith(Worker& w, const T* rows, const int* freqs, int first, int count,
                      ValueRange rowRange, L* labels) {
    const int dim = s_.dim;
    const std::size_t width = static_cast<std::size_t>(dim);
    const auto n = static_cast<std::size_t>(count);
    w.own.resize(n);
    w.codeOf.resize(n);
    w.labelOf.resize(n);
    w.keep.resize(n);
    const int* codes = s_.codes.ElementBlock.get();
    for (int k = 0; k < count; ++k) {
      w.labelOf[k] = labels[first + k];
      w.codeOf[k] = codes + static_cast<std::size_t>(w.labelOf[k]) * width;
    }
    OwnDistances(rows, count, dim, w.codeOf.data(), LanesFor(rowRange, s_.codeRange, dim),
                 w.own.data());
    DistanceBound* bounds = s_.bounds != nullptr ? s_.bounds.get() + first : nullptr;
    Decide(w, count, bounds);

    // The others are searched together, from their labels; the kept ones
    // have their own distance as the best.
    w.gathered.clear();
    w.start.clear();
    for (int k = 0; k < count; ++k) {
      if (w.keep[k] != 0) continue;
      w.gathered.push_back(k);
      w.start.push_back(w.labelOf[k]);
    }
    const std::size_t g = w.gathered.size();
    if (g > 0) {
      w.gatherBytes.resize(g * width * sizeof(T));
      T* gatheredRows = reinterpret_cast<T*>(w.gatherBytes.data());
      for (std::size_t q = 0; q < g; ++q) {
        std::memcpy(gatheredRows + q * width,
                    rows + static_cast<std::size_t>(w.gathered[q]) * width, width * sizeof(T));
      }
      w.chosen.resize(g);
      w.best.resize(g);
      w.second.resize(g);
      SearchNearestAndSecond(VectorRows(gatheredRows, dim), 0, static_cast<int>(g), s_.codes,
                             w.start.data(), w.chosen.data(), w.best.data(),
                             bounds != nullptr ? w.second.data() : nullptr);
      for (std::size_t q = 0; q < g; ++q) {
        const int k = w.gathered[q];
        w.labelOf[k] = w.chosen[q];
        w.own[k] = w.best[q];
        if (bounds != nullptr) bounds[k] = BoundOfSecond(w.second[q]);
      }
      w.searched += static_cast<std::int64_t>(g);
    }

    // Labels, distortion, candidates and moves.
    w.moves.clear();
    TrainingInt128 distortion = 0;
    std::uint64_t totalFreq = 0;
    // Below this weighted distance a vector cannot become a candidate.
    auto lowest = [&] {
      if (capacity_ == 0) return INT64_MAX;
      if (static_cast<std::int64_t>(w.heap.size()) < capacity_) return INT64_MIN;
      return w.heap.front().weighted;
    };
    std::int64_t floor = lowest();
    for (int k = 0; k < count; ++k) {
      const int label = w.labelOf[k];
      const std::int64_t d = w.own[k];
      const int freq = freqs[k];
      distortion += static_cast<TrainingInt128>(d) * freq;
      totalFreq += static_cast<std::uint32_t>(freq);
      const std::int64_t weighted = WeightedDistance(d, freq);
      if (weighted >= floor) {
        const TrainingCandidate entry{weighted, first + k, freq, 0, 0};
        if (static_cast<std::int64_t>(w.heap.size()) < capacity_ ||
            RanksBefore(entry, w.heap.front())) {
          Offer(w, entry, rows, k);
          floor = lowest();
        }
      }
      const int from = labels[first + k];
      if (s_.first || label != from) {
        w.moves.push_back({k, s_.first ? -1 : from, label});
        labels[first + k] = static_cast<L>(label);
      }
    }
    w.distortion += distortion;
    w.totalFreq += totalFreq;
    ApplyMoves(w, rows, freqs);
  }

  // Which vectors keep their label without a search (w.keep), and their
  // bounds lowered by how far the other code vectors moved since they were
  // made.
  void Decide(Worker& w, int count, DistanceBound* bounds) {
    const std::int64_t* quarter = s_.quarterSeparation.data();
    if (!s_.accelerate) {
      std::fill_n(w.keep.data(), count, std::uint8_t{0});
      return;
    }
    if (bounds == nullptr || s_.first) {
      // No code vector is strictly nearer than a when x lies within half
      // the distance from a to the nearest other code vector.
      for (int k = 0; k < count; ++k) w.keep[k] = w.own[k] <= quarter[w.labelOf[k]];
      if (bounds != nullptr) std::fill_n(bounds, count, DistanceBound{0});
      return;
    }
    DecideByBounds(count, w.own.data(), w.labelOf.data(), quarter, s_.decay.data(), bounds,
                   w.keep.data());
  }

  // Keeps a candidate that ranks among the best `capacity_` of this worker
  // (a sorted list that drops its last entry keeps the same ones).
  template <typename T>
  void Offer(Worker& w, TrainingCandidate entry, const T* rows, int k) {
    int slot;
    if (static_cast<std::int64_t>(w.heap.size()) < capacity_) {
      slot = static_cast<int>(w.heap.size());
      if (copyRows_) w.candidateRows.resize(w.candidateRows.size() + s_.dim);
    } else {
      slot = w.heap.front().slot;
      std::pop_heap(w.heap.begin(), w.heap.end(), RanksBefore);
      w.heap.pop_back();
    }
    entry.slot = slot;
    w.heap.push_back(entry);
    std::push_heap(w.heap.begin(), w.heap.end(), RanksBefore);
    if (copyRows_) {
      const T* row = rows + static_cast<std::size_t>(k) * s_.dim;
      std::copy_n(row, s_.dim, w.candidateRows.data() + static_cast<std::size_t>(slot) * s_.dim);
    }
  }

  // The moves of a part change the totals: the worker's own changes, where
  // it keeps them, else the shared totals under their lock. They are
  // wrapping sums, the same bits in any order.
  template <typename T>
  void ApplyMoves(Worker& w, const T* rows, const int* freqs) {
    if (w.moves.empty()) return;
    if (!w.sums.empty()) {
      AddMoves(w, rows, freqs, w.sums.data(), w.sumFreqs.data());
      return;
    }
    std::lock_guard<std::mutex> lock(s_.sumsLock);
    AddMoves(w, rows, freqs, s_.sums.data(), s_.freqs.data());
  }

  template <typename T>
  void AddMoves(const Worker& w, const T* rows, const int* freqs, std::int64_t* sums,
                int* sumFreqs) {
    const int dim = s_.dim;
    const std::size_t width = static_cast<std::size_t>(dim);
    for (const Move& move : w.moves) {
      const T* row = rows + static_cast<std::size_t>(move.row) * width;
      const int freq = freqs[move.row];
      if (move.from >= 0) {
        SubtractWeightedRow(sums + static_cast<std::size_t>(move.from) * width, row, dim, freq);
        sumFreqs[move.from] = WrapSub32(sumFreqs[move.from], freq);
      }
      AddWeightedRow(sums + static_cast<std::size_t>(move.to) * width, row, dim, freq);
      sumFreqs[move.to] = WrapAdd32(sumFreqs[move.to], freq);
    }
  }

  TrainingState& s_;
  PassOutcome* outcome_;
  std::int64_t capacity_ = 0;  // candidates kept per worker
  bool copyRows_ = false;
};

// A held set is assigned in parts of BatchRows: each part's rows are
// gathered and widened while they are still in the cache, and at most
// TrainingPartRows() rows, so that the parts spread over the threads.
template <typename T>
void RunHeld(TrainingState& s, const T* rows, PassRunner& runner, std::vector<Worker>& workers,
             const std::function<void(std::int64_t, std::int64_t)>& progress) {
  const int n = s.set.Size();
  const int partRows =
      BatchRows(n, s.dim, sizeof(T), std::max(TrainingPartRows(), 1), kCopiedBatchBytes);
  const int parts = n > 0 ? (n - 1) / partRows + 1 : 0;
  workers.resize(static_cast<std::size_t>(std::clamp(s.threads, 1, std::max(parts, 1))));
  GiveOwnSums(workers, s.codeCount, s.dim);
  std::atomic<std::int64_t> done{0};
  RunInParallel(parts, static_cast<int>(workers.size()), [&](int part, int worker) {
    const int first = part * partRows;
    const int count = std::min(partRows, n - first);
    runner.AssignPart(workers[static_cast<std::size_t>(worker)],
                      rows + static_cast<std::size_t>(first) * s.dim, s.set.Freqs() + first, first,
                      count, s.setRange);
    done += count;
    if (worker == 0 && progress) progress(done.load(), n);
  });
}

// A streamed pass reads and checks the batches in file order and decodes
// and assigns each on the worker that takes it (SetReader::ReadInParallel),
// each worker with a batch of its own.
void RunStreamed(TrainingState& s, PassRunner& runner, std::vector<Worker>& workers,
                 const std::function<void(std::int64_t, std::int64_t)>& progress) {
  SetReader& reader = *s.set.Reader();
  if (reader.NextRecord() != 0) reader.Rewind();
  const std::int64_t n = reader.Header().Booksize;
  workers.resize(static_cast<std::size_t>(std::clamp(s.threads, 1, SetReader::kMaxReadWorkers)));
  GiveOwnSums(workers, s.codeCount, s.dim);
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<std::int64_t> done{0};
  // Whether the set names any vector is all the training needs of the
  // names, and the first pass tells it.
  const int fields = SetReader::kElements | (s.first ? SetReader::kNames : 0);
  reader.ReadInParallel(
      [&](const SetBatch& batch, int worker) {
        Worker& w = workers[static_cast<std::size_t>(worker)];
        w.names = w.names || batch.Names != nullptr;
        // The set's range is known after the first pass (a file that
        // changes is refused when it is read again); until then, each
        // batch's own.
        ValueRange range = s.setRange;
        if (s.first) {
          range = ElementRange(VectorRows(batch.Elements, s.dim), 0, batch.Count, s.dim);
          if (batch.Count > 0) {
            w.range = w.ranged ? ValueRange{std::min(w.range.low, range.low),
                                            std::max(w.range.high, range.high)}
                               : range;
            w.ranged = true;
          }
        }
        runner.AssignPart(w, batch.Elements, batch.Freqs, batch.First, batch.Count, range);
        done += batch.Count;
        if (progress && std::this_thread::get_id() == caller) progress(done.load(), n);
      },
      fields, nullptr, static_cast<int>(workers.size()));
}

}  // namespace

int& TrainingPartRows() {
  static int rows = 8192;
  return rows;
}

DistanceBound BoundBelow(double value) {
  // Shrunk by 2^-20 first, far more than the float conversion rounds by
  // (2^-24), so that the float is below the value; cutting its lower 16
  // bits lowers it further. Negative values and NaN give 0.
  const double below = value > 0 ? std::min(value * (1 - 1.0 / (1 << 20)), 3.0e38) : 0.0;
  const float single = static_cast<float>(below);
  std::uint32_t bits;
  std::memcpy(&bits, &single, sizeof bits);
  return static_cast<DistanceBound>(bits >> 16);
}

void HeldRow(const TrainingSource& set, int i, int* row) {
  const std::size_t at = static_cast<std::size_t>(i) * set.Dimension();
  const int dim = set.Dimension();
  if (set.Bytes() != nullptr) {
    std::copy_n(set.Bytes() + at, dim, row);
  } else if (set.Words() != nullptr) {
    std::copy_n(set.Words() + at, dim, row);
  } else {
    std::copy_n(set.Ints() + at, dim, row);
  }
}

void RunAssignmentPass(TrainingState& state,
                       const std::function<void(std::int64_t, std::int64_t)>& progress,
                       PassOutcome* outcome) {
  *outcome = PassOutcome{};
  PassRunner runner(state, outcome);
  std::vector<Worker> workers;
  const TrainingSource& set = state.set;
  if (set.Streamed()) {
    RunStreamed(state, runner, workers, progress);
    if (state.first) {
      bool ranged = false;
      for (const Worker& w : workers) {
        if (!w.ranged) continue;
        state.setRange = ranged ? ValueRange{std::min(state.setRange.low, w.range.low),
                                             std::max(state.setRange.high, w.range.high)}
                                : w.range;
        ranged = true;
      }
    }
  } else if (set.Bytes() != nullptr) {
    RunHeld(state, set.Bytes(), runner, workers, progress);
  } else if (set.Words() != nullptr) {
    RunHeld(state, set.Words(), runner, workers, progress);
  } else {
    RunHeld(state, set.Ints(), runner, workers, progress);
  }
  runner.Finish(workers);
  if (!set.Streamed() && set.Narrow() != nullptr)
    outcome->names = set.Narrow()->NameOffsets != nullptr;
}

}  // namespace cb_internal
