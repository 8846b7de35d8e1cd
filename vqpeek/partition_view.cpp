// The partition view of the two-file modes: the run that holds the
// training set at its file's width, the loading step of the records for
// library callers, the view itself, and the release step.
//
// The view lists the training vectors grouped by partition, which is no
// order in memory: every member costs a cache miss on its row (and its
// name). So the view copies the elements of a batch of members side by
// side in a small loop that asks for the rows of later members well ahead,
// which keeps many misses in flight, and formats the batch from the copy.
// Large views are formatted on several threads in chunks of consecutive
// lines, written in order.
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <vector>

#include "text_buffer.h"
#include "viewer.h"
#include "vqpeek/interfc.h"
#include "vqpeek/threads.h"

void LoadPartitionView(ViewMode mode, const char* secondName, const Codebook& trainingSet,
                       Codebook* second, Partitioning* partitioning) {
  if (mode == ViewTrainingSetAndCodebook) {
    ReadCodebook(secondName, second);
    // Without code vectors there is nothing to partition by; said here,
    // before the partitioning is made with no partitions.
    if (second->Booksize < 1) FatalError("ERROR: The codebook is empty.\n");
    CreateNewPartitioning(partitioning, &trainingSet, second->Booksize);
    GenerateOptimalPartitioningGeneral(&trainingSet, second, partitioning, 0);
  } else {
    ReadPartitioning(secondName, partitioning, &trainingSet);
    // The new codebook's nodes start with zero elements, so the centroid
    // line of an empty partition shows zeros with frequency 0.
    CreateNewCodebook(second, partitioning->PartitionCount, &trainingSet);
    GenerateOptimalCodebookGeneral(&trainingSet, second, partitioning, 0);
  }
}

namespace {

// A hint to fetch the cache line at `address` for reading; it never faults,
// whatever the address. Compilers without the builtin get no hint.
inline void PrefetchForRead(const void* address) {
#if defined(__GNUC__)
  __builtin_prefetch(address, 0, 3);
#else
  static_cast<void>(address);
#endif
}

// How far ahead of the member being staged its row, and then its name, are
// asked for. The name's offset must have arrived before it is read.
constexpr std::int64_t kRowAhead = 64;
constexpr std::int64_t kNameAhead = 32;

// Members staged at a time: at most this many, and this many bytes of
// elements.
constexpr std::int64_t kMaxStage = 512;
constexpr std::size_t kStageBytes = 32 << 10;

// Room for the lead of a member line ("   %*d  " and its fill).
constexpr std::size_t kLeadRoom = 32;
// Elements written into the buffer at a time.
constexpr std::size_t kPieceElements = 256;

// Views of fewer lines are formatted on the calling thread alone.
constexpr std::int64_t kMinLinesForThreads = 1 << 16;
// ... and so are views of longer vectors, whose chunks would be large.
constexpr int kMaxDimensionForThreads = 4096;
// A chunk of a threaded view holds at most this many characters.
constexpr std::size_t kChunkCharacters = std::size_t{1} << 20;

// Formats the lines of the view. The view is a sequence of items: for each
// partition p a head item (its "Partition" and centroid lines), then one
// item per member. Partition p's head is item offset[p] + p.
class ViewFormatter {
 public:
  ViewFormatter(const NarrowSet& set, const Codebook& second, const SetStatistics& stats,
                int noBlanks, const std::int64_t* offset, const int* members)
      : set_(set),
        second_(second),
        offset_(offset),
        members_(members),
        partitions_(second.Booksize),
        memberCount_(offset[second.Booksize]),
        dim_(set.Dim),
        freqWidth_(DecimalWidth(stats.MaxFreq)),
        numberWidth_(DecimalWidth(second.Booksize)),
        nameWidth_(stats.MaxNameLength),
        // Both prefixes come to the same width (13 characters without
        // names, up to 999,999 partitions), so representatives and members
        // line up.
        centroidFill_(std::max(0, numberWidth_ + nameWidth_ - 6)),
        memberFill_(nameWidth_ == 0 ? 8 - numberWidth_ : 6 - nameWidth_ - numberWidth_),
        elementFields_(DecimalWidth(stats.MaxElement), noBlanks != 1),
        freqFields_(freqWidth_, false) {
    // The room the lines ask for: a member line its lead, name and pieces
    // of elements with the tail; a head its two lines, each element field
    // at most kStride characters.
    const std::int64_t dim = dim_;
    const std::int64_t pieces = dim / kPieceElements + 1;
    const std::int64_t tail = TailRoom();
    const std::int64_t member = kLeadRoom + (nameWidth_ > 0 ? nameWidth_ + 2 : 0) +
                                dim * static_cast<std::int64_t>(elementFields_.MaxWrite()) +
                                pieces * tail;
    const std::int64_t head = 10 + 11 + 2 + 13 + centroidFill_ + dim * 16 + tail;
    itemBound_ = std::max(member, head);
  }

  std::int64_t Items() const { return memberCount_ + partitions_; }
  // At least the room that the formatting of any one item asks for.
  std::int64_t ItemBound() const { return itemBound_; }

  // Appends items from .. to-1.
  void Format(TextBuffer& text, std::int64_t from, std::int64_t to) const {
    if (from >= to) return;
    // The partition whose head is the last one at or before `from`.
    int low = 0;
    int high = partitions_ - 1;
    while (low < high) {
      const int middle = low + (high - low + 1) / 2;
      if (offset_[middle] + middle <= from) {
        low = middle;
      } else {
        high = middle - 1;
      }
    }
    StagedMembers staged(dim_, nameWidth_ > 0);
    for (int p = low; from < to; ++p) {
      const std::int64_t head = offset_[p] + p;
      if (from == head) {
        AppendHead(text, p);
        ++from;
      }
      const std::int64_t size = offset_[p + 1] - offset_[p];
      const std::int64_t first = from - head - 1;
      const std::int64_t last = std::min(size, to - head - 1);
      if (first < last) AppendMembers(text, staged, p, offset_[p] + first, offset_[p] + last);
      from = head + 1 + last;
    }
  }

 private:
  // The elements, frequencies and names of a batch of members, side by side.
  struct StagedMembers {
    StagedMembers(int dim, bool named)
        : batch(std::clamp<std::int64_t>(
              static_cast<std::int64_t>(kStageBytes / (static_cast<std::size_t>(dim) * 4 + 1)), 1,
              kMaxStage)),
          elements(std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(batch * dim))),
          freqs(std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(batch))),
          names(named
                    ? std::make_unique_for_overwrite<const char*[]>(static_cast<std::size_t>(batch))
                    : nullptr) {}
    std::int64_t batch;
    std::unique_ptr<int[]> elements;
    std::unique_ptr<int[]> freqs;
    std::unique_ptr<const char*[]> names;
  };

  std::int64_t TailRoom() const { return 4 + static_cast<std::int64_t>(freqFields_.MaxWrite()); }

  // The elements and the frequency, " (%*d)\n".
  void AppendVector(TextBuffer& text, const CodebookNode& node) const {
    const int* elements = node.Vector.get();
    for (int e = 0; e < dim_; ++e) elementFields_.Append(text, elements[e]);
    text.Append(" (");
    freqFields_.Append(text, node.Freq);
    text.Append(")\n");
  }

  void AppendHead(TextBuffer& text, int p) const {
    text.Append("Partition ");
    text.AppendInt(p + 1, 0);
    text.Append(":\n");
    text.Append("   centroid: ");
    text.AppendBlanks(centroidFill_);
    AppendVector(text, second_.Book[p]);
  }

  // The member lines of partition p for the flat list's entries from .. to-1.
  void AppendMembers(TextBuffer& text, StagedMembers& staged, int p, std::int64_t from,
                     std::int64_t to) const {
    // "   %*d  " and the fill, the same on every line of the partition; the
    // whole buffer is copied, and what follows overwrites its padding.
    char lead[kLeadRoom + 8] = {};
    const std::size_t leadLength = static_cast<std::size_t>(std::snprintf(
        lead, sizeof lead, "   %*d  %*s", numberWidth_, p + 1, std::max(memberFill_, 0), ""));
    const std::size_t dim = static_cast<std::size_t>(dim_);
    for (std::int64_t first = from; first < to; first += staged.batch) {
      const std::int64_t count = std::min(staged.batch, to - first);
      Stage(first, count, staged);
      for (std::int64_t k = 0; k < count; ++k) {
        std::memcpy(text.Tail(kLeadRoom), lead, kLeadRoom);
        text.Commit(leadLength);
        if (nameWidth_ > 0) {
          const char* name = staged.names[k];
          if (name != nullptr && name[0] != '\0') {
            text.AppendLeft(std::string_view(name, std::strlen(name)), nameWidth_);
            text.Append("  ");
          } else {
            text.AppendBlanks(static_cast<long long>(nameWidth_) + 2);
          }
        }
        AppendElements(text, staged.elements.get() + static_cast<std::size_t>(k) * dim,
                       staged.freqs[k]);
      }
    }
  }

  // The elements with their blanks and " (%*d)\n" with the frequency,
  // written straight into the buffer in pieces of a bounded size.
  void AppendElements(TextBuffer& text, const int* vector, int freq) const {
    const std::size_t dim = static_cast<std::size_t>(dim_);
    const std::size_t elementRoom = elementFields_.MaxWrite();
    const std::size_t tailRoom = static_cast<std::size_t>(TailRoom());
    for (std::size_t e = 0;;) {
      const std::size_t end = std::min(dim, e + kPieceElements);
      char* const start = text.Tail((end - e) * elementRoom + tailRoom);
      char* out = start;
      for (; e < end; ++e) out = elementFields_.Put(out, vector[e]);
      if (e == dim) {
        std::memcpy(out, " (", 2);
        out = freqFields_.Put(out + 2, freq);
        std::memcpy(out, ")\n", 2);
        text.Commit(static_cast<std::size_t>(out + 2 - start));
        return;
      }
      text.Commit(static_cast<std::size_t>(out - start));
    }
  }

  // Copies the elements, frequencies and names of the members at the flat
  // list's entries first .. first+count-1 side by side. A small loop with
  // the rows and names of later members requested ahead keeps many cache
  // misses in flight at once.
  void Stage(std::int64_t first, std::int64_t count, StagedMembers& staged) const {
    switch (set_.ElementBytes) {
      case 1:
        StageRows(set_.Bytes.get(), first, count, staged);
        break;
      case 2:
        StageRows(set_.Words.get(), first, count, staged);
        break;
      default:
        StageRows(set_.Ints.get(), first, count, staged);
        break;
    }
  }

  template <typename T>
  void StageRows(const T* rows, std::int64_t first, std::int64_t count,
                 StagedMembers& staged) const {
    const std::size_t dim = static_cast<std::size_t>(dim_);
    const std::size_t lastByte = std::min<std::size_t>(dim * sizeof(T), 256) - 1;
    const bool named = nameWidth_ > 0 && set_.NameOffsets != nullptr;
    for (std::int64_t k = 0; k < count; ++k) {
      const std::int64_t m = first + k;
      if (m + kRowAhead < memberCount_ && dim > 0) {
        const std::size_t ahead = static_cast<std::size_t>(members_[m + kRowAhead]);
        const char* row = reinterpret_cast<const char*>(rows + ahead * dim);
        PrefetchForRead(row);
        PrefetchForRead(row + lastByte);
        if (named) PrefetchForRead(&set_.NameOffsets[ahead]);
      }
      if (named && m + kNameAhead < memberCount_) {
        const char* name = set_.Name(members_[m + kNameAhead]);
        if (name != nullptr) PrefetchForRead(name);
      }
      const int i = members_[m];
      const T* row = rows + static_cast<std::size_t>(i) * dim;
      int* out = staged.elements.get() + static_cast<std::size_t>(k) * dim;
      for (std::size_t e = 0; e < dim; ++e) out[e] = static_cast<int>(row[e]);
      staged.freqs[k] = set_.Freqs[i];
      if (nameWidth_ > 0) staged.names[k] = set_.Name(i);
    }
  }

  const NarrowSet& set_;
  const Codebook& second_;
  const std::int64_t* offset_;
  const int* members_;
  int partitions_;
  std::int64_t memberCount_;
  int dim_;
  int freqWidth_;
  int numberWidth_;
  int nameWidth_;
  int centroidFill_;
  int memberFill_;
  IntFields elementFields_;
  IntFields freqFields_;
  std::int64_t itemBound_ = 0;
};

// Formats the view in chunks of `chunkItems` items on `threads` threads and
// writes the chunks in order. A chunk waits in one of a few buffers until
// the chunks before it are written, so memory stays bounded. After a failed
// write, or a failure of any thread, no chunk is handed out any more.
// Fatal: "ERROR: Cannot write the output: %s\n" with the system's reason.
void FormatOnThreads(FILE* out, const ViewFormatter& formatter, int threads,
                     std::int64_t chunkItems) {
  const std::int64_t items = formatter.Items();
  const std::int64_t chunks = (items + chunkItems - 1) / chunkItems;
  const int slots = 2 * threads;
  std::vector<std::unique_ptr<TextBuffer>> texts;
  for (int s = 0; s < slots; ++s) {
    texts.push_back(
        std::make_unique<TextBuffer>(static_cast<std::size_t>(chunkItems * formatter.ItemBound())));
  }
  std::vector<bool> ready(static_cast<std::size_t>(slots), false);
  std::mutex mutex;
  std::condition_variable slotFreed;
  std::int64_t claimed = 0;
  std::int64_t written = 0;
  bool writing = false;
  bool stopped = false;
  int writeError = 0;

  // Stops the others when a thread leaves by a failure, so that none waits
  // for a chunk that will never be written.
  struct StopOnFailure {
    ~StopOnFailure() {
      if (std::uncaught_exceptions() == pending) return;
      const std::lock_guard lock(mutex);
      stopped = true;
      slotFreed.notify_all();
    }
    std::mutex& mutex;
    std::condition_variable& slotFreed;
    bool& stopped;
    int pending = std::uncaught_exceptions();
  };

  RunInParallel(threads, threads, [&](int, int) {
    const StopOnFailure guard{mutex, slotFreed, stopped};
    std::unique_lock lock(mutex);
    for (;;) {
      slotFreed.wait(lock,
                     [&] { return stopped || claimed >= chunks || claimed < written + slots; });
      if (stopped || claimed >= chunks) return;
      const std::int64_t chunk = claimed++;
      const std::size_t slot = static_cast<std::size_t>(chunk % slots);
      lock.unlock();
      formatter.Format(*texts[slot], chunk * chunkItems, std::min(items, (chunk + 1) * chunkItems));
      lock.lock();
      ready[slot] = true;
      // One thread at a time writes whatever is ready, in order.
      if (writing) continue;
      writing = true;
      for (std::size_t next; !stopped && written < chunks && ready[next = written % slots];) {
        lock.unlock();
        const std::string_view text = texts[next]->Text();
        const int error = WriteOutput(out, text.data(), text.size());
        texts[next]->Clear();
        lock.lock();
        if (error != 0) {
          writeError = error;
          stopped = true;
        }
        ready[next] = false;
        ++written;
        slotFreed.notify_all();
      }
      writing = false;
    }
  });
  if (writeError != 0) OutputFailed(writeError);
}

}  // namespace

void GroupMembers(const int* labels, int count, int partitions, bool firstAscending,
                  std::vector<std::int64_t>* offset, std::unique_ptr<int[]>* members) {
  try {
    offset->assign(static_cast<std::size_t>(partitions) + 1, 0);
    *members = std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for the partitioning.\n");
  }
  std::int64_t* start = offset->data();
  for (int i = 0; i < count; ++i) ++start[labels[i] + 1];
  for (int p = 0; p < partitions; ++p) start[p + 1] += start[p];
  // Each partition fills from its start, the highest vector first; the
  // starts end up where the next partition begins, and are set back.
  int* out = members->get();
  for (int i = count - 1; i >= 0; --i) out[start[labels[i]]++] = i;
  for (int p = partitions; p > 0; --p) start[p] = start[p - 1];
  start[0] = 0;
  if (firstAscending) std::reverse(out, out + start[1]);
}

namespace {

// The threads a view of these vectors and partitions is formatted on:
// threads pay for large views of lines of ordinary length.
int ViewThreads(int vectors, int partitions, int dim) {
  if (static_cast<std::int64_t>(vectors) + partitions < kMinLinesForThreads ||
      dim > kMaxDimensionForThreads) {
    return 1;
  }
  return std::clamp(UsableProcessors(), 1, 8);
}

}  // namespace

void PrintMemberView(FILE* out, const NarrowSet& set, const Codebook& second,
                     const std::int64_t* offset, const int* members, const SetStatistics& stats,
                     int noBlanks) {
  PrintMemberViewOn(out, set, second, offset, members, stats, noBlanks,
                    ViewThreads(set.Size(), second.Booksize, set.Dim), 0);
}

void PrintMemberViewOn(FILE* out, const NarrowSet& set, const Codebook& second,
                       const std::int64_t* offset, const int* members, const SetStatistics& stats,
                       int noBlanks, int threads, std::int64_t chunkItems) {
  if (second.Booksize <= 0) return;
  const ViewFormatter formatter(set, second, stats, noBlanks, offset, members);
  if (threads > 1) {
    if (chunkItems <= 0) {
      chunkItems = std::max<std::int64_t>(
          1, static_cast<std::int64_t>(kChunkCharacters) / formatter.ItemBound());
    }
    FormatOnThreads(out, formatter, threads, chunkItems);
    return;
  }
  TextBuffer text(out);
  formatter.Format(text, 0, formatter.Items());
}

void PrintPartitionViewOn(FILE* out, const Codebook& trainingSet, const Codebook& second,
                          const Partitioning& partitioning, const SetStatistics& stats,
                          int noBlanks, int threads, std::int64_t chunkItems) {
  // The record's vectors as ints, and its member lists laid out flat.
  NarrowSet set;
  set.Header.Booksize = trainingSet.Booksize;
  set.Dim = VectorDimension(trainingSet);
  set.ElementBytes = 4;
  const std::size_t dim = static_cast<std::size_t>(set.Dim);
  const std::size_t n = static_cast<std::size_t>(trainingSet.Booksize);
  set.Ints = std::make_unique<int[]>(n * dim);
  set.Freqs = std::make_unique<int[]>(n);
  for (std::size_t i = 0; i < n; ++i) {
    const CodebookNode& node = trainingSet.Book[i];
    std::copy_n(node.Vector.get(), dim, set.Ints.get() + i * dim);
    set.Freqs[i] = node.Freq;
    if (node.Name != nullptr) set.AddName(static_cast<int>(i), node.Name.get());
  }
  const int partitions = std::max(second.Booksize, 0);
  std::vector<std::int64_t> offset(static_cast<std::size_t>(partitions) + 1, 0);
  std::vector<int> members;
  for (int p = 0; p < partitions; ++p) {
    for (int v = partitioning.First[p]; v != -1; v = partitioning.Next[v]) members.push_back(v);
    offset[p + 1] = static_cast<std::int64_t>(members.size());
  }
  PrintMemberViewOn(out, set, second, offset.data(), members.data(), stats, noBlanks, threads,
                    chunkItems);
}

void PrintPartitionView(FILE* out, const Codebook& trainingSet, const Codebook& second,
                        const Partitioning& partitioning, const SetStatistics& stats,
                        int noBlanks) {
  PrintPartitionViewOn(
      out, trainingSet, second, partitioning, stats, noBlanks,
      ViewThreads(trainingSet.Booksize, second.Booksize, VectorDimension(trainingSet)), 0);
}

void PrintTwoFileView(FILE* out, const char* inputName, ViewMode mode, const char* secondName,
                      SetReader& reader, const ViewOptions& options) {
  NarrowSet set;
  // Each worker of the read takes the statistics of its own batches.
  std::vector<SetStatistics> shares(static_cast<std::size_t>(reader.ParallelWorkers()));
  ReadNarrowSet(reader, &set, [&](const SetBatch& batch, int worker) {
    AddToStatistics(batch, set.Dim, &shares[static_cast<std::size_t>(worker)]);
  });
  const SetStatistics stats = CombinedStatistics(shares);

  // The loading step: the codebook and every vector's nearest code vector,
  // or the partitioning and the centroids of its partitions.
  const int n = set.Size();
  std::unique_ptr<int[]> labels;
  auto allocateLabels = [&] {
    try {
      labels = std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
      FatalError("ERROR: Not enough memory for the partitioning.\n");
    }
  };
  Codebook second;
  if (mode == ViewTrainingSetAndCodebook) {
    ReadCodebook(secondName, &second);
    // Without code vectors there is nothing to partition by.
    if (second.Booksize < 1) FatalError("ERROR: The codebook is empty.\n");
    allocateLabels();
    AssignNarrowSet(set, second, labels.get());
  } else {
    allocateLabels();
    const int partitions = ReadPartitionLabels(secondName, set.Header, labels.get());
    // An empty partition's centroid line shows zeros with frequency 0.
    NarrowSetCentroids(set, labels.get(), partitions, &second);
  }

  if (options.QuietLevel > 0) PrintHeaderBlock(out, inputName, set.Header);
  if (options.Entropy == 1) PrintEntropyLine(out, FrequencyEntropy(set.Freqs.get(), n));
  if (options.Statistics == 1) {
    if (options.Entropy == 1) std::fputc('\n', out);
    PrintPartitionFigures(out, ComputePartitionFigures(set, second, labels.get()));
  }
  if (options.QuietLevel <= 1) return;

  std::fputc('\n', out);
  std::vector<std::int64_t> offset;
  std::unique_ptr<int[]> members;
  // The member order of the partitionings the records give: a vector that
  // moves joins the head of its partition's list, and after the nearest
  // search only the vectors of the first partition never moved.
  GroupMembers(labels.get(), n, second.Booksize, mode == ViewTrainingSetAndCodebook, &offset,
               &members);
  labels.reset();
  PrintMemberView(out, set, second, offset.data(), members.get(), stats, options.NoBlanks);
}

void ReleasePartitionView(Codebook* second, Partitioning* partitioning) {
  FreeCodebook(second);
  FreePartitioning(partitioning);
}
