// The codebook training: the loop of assignments, refills and updates, and
// what each update hands the next assignment (the code vectors' ranges,
// separations and movements).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <new>

#include "cb_internal.h"
#include "nearest_search.h"
#include "training_internal.h"
#include "vqpeek/threads.h"

TrainingSource::TrainingSource(const NarrowSet& set)
    : narrow_(&set),
      bytes_(set.Bytes.get()),
      words_(set.Words.get()),
      ints_(set.Ints.get()),
      freqs_(set.Freqs.get()),
      count_(set.Size()),
      dim_(set.Dim) {}

TrainingSource::TrainingSource(const std::uint8_t* rows, const int* freqs, int count, int dim)
    : bytes_(rows), freqs_(freqs), count_(count), dim_(dim) {}

TrainingSource::TrainingSource(const std::uint16_t* rows, const int* freqs, int count, int dim)
    : words_(rows), freqs_(freqs), count_(count), dim_(dim) {}

TrainingSource::TrainingSource(const int* rows, const int* freqs, int count, int dim)
    : ints_(rows), freqs_(freqs), count_(count), dim_(dim) {}

TrainingSource::TrainingSource(SetReader& reader)
    : reader_(&reader), count_(reader.Header().Booksize), dim_(reader.Dimension()) {}

namespace cb_internal {

namespace {

// The bounds of the whole set are kept while they take at most this much.
constexpr std::int64_t kBoundBytes = std::int64_t{32} << 20;

// The separations of the code vectors cost K x K distances per update; they
// are worth it while that stays well below one assignment of the set.
bool SeparationsPay(int codes, int vectors) {
  return static_cast<std::int64_t>(codes) * codes <= std::int64_t{4} * vectors;
}

int LabelWidth(int codes) { return codes <= 256 ? 1 : codes <= 65536 ? 2 : 4; }

void AllocateLabels(TrainingLabels* labels, int count, int codes) {
  labels->Count = count;
  labels->Width = LabelWidth(codes);
  const std::size_t n = static_cast<std::size_t>(count);
  if (!FitsInMemory(n, static_cast<std::uint64_t>(labels->Width))) {
    FatalError("ERROR: Not enough memory for the partitioning.\n");
  }
  try {
    // Every vector starts in partition 0.
    if (labels->Width == 1) {
      labels->Bytes = std::make_unique<std::uint8_t[]>(n);
    } else if (labels->Width == 2) {
      labels->Words = std::make_unique<std::uint16_t[]>(n);
    } else {
      labels->Ints = std::make_unique<int[]>(n);
    }
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for the partitioning.\n");
  }
}

void SetLabel(TrainingLabels& labels, int i, int label) {
  if (labels.Width == 1) {
    labels.Bytes[i] = static_cast<std::uint8_t>(label);
  } else if (labels.Width == 2) {
    labels.Words[i] = static_cast<std::uint16_t>(label);
  } else {
    labels.Ints[i] = label;
  }
}

// What the next assignment needs to know of the code vectors: their value
// range, and the distance of each from the nearest other one.
void PrepareCodes(TrainingState& s) {
  const int K = s.codeCount;
  const int* codes = s.codes.ElementBlock.get();
  s.codeRange = ElementRange(VectorRows(codes, s.dim), 0, K, s.dim);
  s.quarterSeparation.assign(static_cast<std::size_t>(K), -1);
  if (!s.accelerate) return;
  if (K == 1) {
    // No other code vector can be nearer.
    s.quarterSeparation[0] = kFullDistance / 4;
    return;
  }
  if (!SeparationsPay(K, s.set.Size())) return;
  // Each code vector searched among all from itself: it stays (distance 0),
  // and the second distance is that of the nearest other one.
  std::vector<int> start(static_cast<std::size_t>(K));
  for (int j = 0; j < K; ++j) start[j] = j;
  std::vector<int> chosen(start.size());
  std::vector<std::int64_t> best(start.size());
  std::vector<std::int64_t> second(start.size());
  SearchNearestAndSecond(VectorRows(codes, s.dim), 0, K, s.codes, start.data(), chosen.data(),
                         best.data(), second.data());
  for (int j = 0; j < K; ++j) s.quarterSeparation[j] = second[j] / 4;
}

// The refill of FillEmptyPartitions from the candidates of the assignment:
// the empty partitions in ascending order, each given the next candidate
// (a partition emptied by an earlier move too, while candidates remain).
// `next` receives the code vectors as the refill leaves them. Returns how
// many partitions were refilled.
int Refill(TrainingState& s, const PassOutcome& pass, std::vector<int>& next) {
  const int K = s.codeCount;
  const int dim = s.dim;
  int empty = 0;
  for (int k = 0; k < K; ++k) empty += s.freqs[k] == 0 ? 1 : 0;
  if (empty == 0) return 0;
  const int available = std::min(empty, static_cast<int>(pass.candidates.size()));
  std::vector<int> row(static_cast<std::size_t>(dim));
  int f = 0;
  for (int j = 0; j < K && f < available; ++j) {
    if (s.freqs[j] != 0) continue;
    const TrainingCandidate& candidate = pass.candidates[static_cast<std::size_t>(f)];
    const int v = candidate.vector;
    if (s.set.Streamed()) {
      const std::vector<int>& rows = pass.candidateRows[static_cast<std::size_t>(candidate.worker)];
      std::copy_n(rows.data() + static_cast<std::size_t>(candidate.slot) * dim, dim, row.data());
    } else {
      HeldRow(s.set, v, row.data());
    }
    const int freq = candidate.freq;
    const int old = s.labels[v];
    std::copy_n(row.data(), dim, next.data() + static_cast<std::size_t>(j) * dim);
    SubtractWeightedRow(s.SumsOf(old), row.data(), dim, freq);
    AddWeightedRow(s.SumsOf(j), row.data(), dim, freq);
    s.freqs[old] = WrapSub32(s.freqs[old], freq);
    s.freqs[j] = WrapAdd32(s.freqs[j], freq);
    // The partition left behind takes its new centroid at once: it stays
    // its code vector if a later move leaves the partition without
    // frequency.
    if (s.freqs[old] > 0) {
      RoundCentroid(s.SumsOf(old), s.freqs[old], dim,
                    next.data() + static_cast<std::size_t>(old) * dim);
    }
    SetLabel(s.labels, v, j);
    // Its bound was of the code vectors other than its old one.
    if (s.bounds != nullptr) s.bounds[v] = 0;
    ++f;
  }
  return f;
}

// The update: each partition's rounded centroid, or the code vector it has
// (refilled or not) where its total frequency is not above 0. Then the
// movements that the bounds lose.
void Update(TrainingState& s, std::vector<int>& next) {
  const int K = s.codeCount;
  const int dim = s.dim;
  std::vector<double> moved(static_cast<std::size_t>(K));
  int* codes = s.codes.ElementBlock.get();
  for (int k = 0; k < K; ++k) {
    int* target = next.data() + static_cast<std::size_t>(k) * dim;
    if (s.freqs[k] > 0) RoundCentroid(s.SumsOf(k), s.freqs[k], dim, target);
    int* code = codes + static_cast<std::size_t>(k) * dim;
    const std::int64_t squared = SquaredDistance(code, target, dim, kFullDistance);
    // Rounded up; a distance beyond the int64 range may be any larger one.
    moved[k] = squared == kFullDistance ? std::numeric_limits<double>::infinity()
                                        : std::sqrt(static_cast<double>(squared)) * (1 + 1e-12);
    std::copy_n(target, dim, code);
  }
  int largest = 0;
  for (int k = 1; k < K; ++k) {
    if (moved[k] > moved[largest]) largest = k;
  }
  double others = 0;  // the largest movement but that of `largest`
  for (int k = 0; k < K; ++k) {
    if (k != largest) others = std::max(others, moved[k]);
  }
  // As floats rounded up: 1e-6 is far more than a float rounds by.
  auto up = [](double value) { return static_cast<float>(value * (1 + 1e-6)); };
  s.decay.assign(static_cast<std::size_t>(K), up(moved[largest]));
  s.decay[largest] = up(others);
  PrepareCodes(s);
}

using Clock = std::chrono::steady_clock;

}  // namespace

}  // namespace cb_internal

void TrainCodebook(TrainingSource set, Codebook* codebook, const TrainingOptions& options,
                   TrainingResult* result) {
  using namespace cb_internal;
  const int K = codebook->Booksize;
  const int dim = set.Dimension();
  if (K < 1) FatalError("ERROR: The codebook is empty.\n");
  if (VectorDimension(*codebook) != dim) {
    FatalError("ERROR: Codebook and training set differ in vector dimension (%d != %d).\n",
               VectorDimension(*codebook), dim);
  }
  if (options.Updates < 0) FatalError("ERROR: Invalid number of updates (%d).\n", options.Updates);
  if (!(options.Threshold >= 0)) {
    FatalError("ERROR: Invalid threshold (%g).\n", options.Threshold);
  }
  if (options.Threads < 0) FatalError("ERROR: Invalid number of threads (%d).\n", options.Threads);
  if (set.Streamed() && !set.Reader()->Rewindable()) {
    FatalError(
        "ERROR: The training set cannot be read again: a set that is streamed must be a file, "
        "not a pipe.\n");
  }
  const Clock::time_point began = Clock::now();

  TrainingState s(set);
  s.codeCount = K;
  s.dim = dim;
  s.threads = options.Threads > 0 ? options.Threads : UsableProcessors();
  s.accelerate = options.Accelerate;
  const int n = set.Size();
  AllocateLabels(&s.labels, n, K);
  if (s.accelerate && K > 1 && std::int64_t{2} * n <= kBoundBytes) {
    try {
      s.bounds = std::make_unique<DistanceBound[]>(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
      // The training goes on without them: they only save searches.
    }
  }
  s.codes.BlockSizeX = dim;
  s.codes.BlockSizeY = 1;
  AllocateNodes(&s.codes, K, dim);
  for (int k = 0; k < K; ++k) {
    std::copy_n(codebook->Book[k].Vector.get(), dim, s.codes.Book[k].Vector.get());
  }
  try {
    s.sums.assign(static_cast<std::size_t>(K) * static_cast<std::size_t>(dim), 0);
    s.freqs.assign(static_cast<std::size_t>(K), 0);
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for the partitioning.\n");
  }
  if (!set.Streamed()) {
    const VectorRows rows = set.Bytes() != nullptr   ? VectorRows(set.Bytes(), dim)
                            : set.Words() != nullptr ? VectorRows(set.Words(), dim)
                                                     : VectorRows(set.Ints(), dim);
    s.setRange = ElementRange(rows, 0, n, dim);
  }
  PrepareCodes(s);

  TrainingResult out;
  std::vector<int> next(static_cast<std::size_t>(K) * dim);
  TrainingInt128 previous = 0;
  for (int t = 0;; ++t) {
    PassOutcome pass;
    RunAssignmentPass(s, options.PassProgress, &pass);
    s.first = false;
    out.SearchedVectors += pass.searched;
    out.SetHasNames = out.SetHasNames || pass.names;
    if (t == 0) {
      if (pass.totalFreq == 0) FatalError("ERROR: The training set has a total frequency of 0.\n");
      if (pass.totalFreq > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
        FatalError(
            "ERROR: The training set's total frequency (%llu) is more than a codebook can "
            "record (2147483647).\n",
            static_cast<unsigned long long>(pass.totalFreq));
      }
      out.TotalFreq = pass.totalFreq;
    }
    const TrainingInt128 D = pass.distortion;
    TrainingProgress progress;
    progress.Iteration = t;
    progress.Searched = pass.searched;
    progress.Distortion = static_cast<double>(D);
    progress.Mse = progress.Distortion / (static_cast<double>(out.TotalFreq) * dim);
    out.History.push_back(progress.Mse);

    bool stop = true;
    if (t == options.Updates) {
      out.Stop = TrainingStop::kUpdates;
    } else if (D == 0) {
      out.Stop = TrainingStop::kZero;
    } else if (t > 0 &&
               static_cast<double>(previous - D) <= options.Threshold * static_cast<double>(D)) {
      out.Stop = TrainingStop::kThreshold;
    } else {
      stop = false;
    }
    if (stop) {
      progress.Last = true;
      progress.Seconds = std::chrono::duration<double>(Clock::now() - began).count();
      if (options.Progress) options.Progress(progress);
      out.Updates = t;
      out.Mse = progress.Mse;
      break;
    }
    const int* codes = s.codes.ElementBlock.get();
    std::copy_n(codes, next.size(), next.begin());
    progress.Refilled = Refill(s, pass, next);
    progress.Seconds = std::chrono::duration<double>(Clock::now() - began).count();
    if (options.Progress) options.Progress(progress);
    Update(s, next);
    previous = D;
  }

  // The code vectors of the last assignment, with its partition totals.
  for (int k = 0; k < K; ++k) {
    CodebookNode& node = codebook->Book[k];
    const int* code = s.codes.Book[k].Vector.get();
    std::copy_n(code, dim, node.Vector.get());
    std::int64_t total = 0;
    for (int e = 0; e < dim; ++e) total += code[e];
    node.VectorMean = RoundedMean(total, dim);
    node.Freq = s.freqs[k];
  }
  out.Labels = std::move(s.labels);
  *result = std::move(out);
}
