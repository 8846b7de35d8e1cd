// What surrounds a codebook training: the choice of the initial code
// vectors among the training vectors, the memory check that decides
// whether a set is held, and the partitioning file of the labels.
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cb_internal.h"
#include "training_internal.h"

namespace {

// SplitMix64's step: a bijection of 64-bit numbers whose outputs look
// independent, the same on every platform.
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15u;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
  return x ^ (x >> 31);
}

// Calls visit(first, count, rows, names) for every batch of the set, rows
// as ints; a streamed set is read once more from its start.
template <typename Visit>
void ForEachBatch(const TrainingSource& set, Visit&& visit) {
  if (set.Streamed()) {
    SetReader& reader = *set.Reader();
    if (reader.NextRecord() != 0) reader.Rewind();
    SetBatch batch;
    while (reader.Next(&batch)) visit(batch.First, batch.Count, batch.Elements, batch.Names);
    return;
  }
  const int dim = set.Dimension();
  RowBatches batches(set.Size(), dim, INT_MAX, kCopiedBatchBytes);
  batches.ForEach([&](std::int64_t start, int count, int* rows) {
    const int first = static_cast<int>(start);
    for (int k = 0; k < count; ++k) {
      cb_internal::HeldRow(set, first + k, rows + static_cast<std::size_t>(k) * dim);
    }
    visit(first, count, static_cast<const int*>(rows), static_cast<const char* const*>(nullptr));
  });
}

}  // namespace

void ChooseTrainingVectors(TrainingSource set, int count, std::uint64_t seed, Codebook* codebook) {
  if (count < 1) FatalError("ERROR: Invalid codebook size (%d).\n", count);
  const int dim = set.Dimension();
  if (VectorDimension(*codebook) != dim) {
    FatalError("ERROR: Codebook and training set differ in vector dimension (%d != %d).\n",
               VectorDimension(*codebook), dim);
  }
  if (codebook->Booksize < count) {
    FatalError("ERROR: The codebook has %d vectors, fewer than the %d asked for.\n",
               codebook->Booksize, count);
  }
  // The distinct vectors of the smallest keys so far, each under the
  // smallest key of its copies; a vector whose key is above the largest
  // kept while `count` are kept can never be among them.
  using Key = std::pair<std::uint64_t, int>;  // the key, then the vector's index
  std::map<Key, std::string> kept;
  std::unordered_map<std::string, Key> keyOf;
  const std::uint64_t base = Mix(seed);
  const std::size_t rowBytes = static_cast<std::size_t>(dim) * sizeof(int);
  ForEachBatch(set, [&](int first, int rows, const int* elements, const char* const*) {
    for (int k = 0; k < rows; ++k) {
      const Key key{Mix(base ^ static_cast<std::uint64_t>(first + k)), first + k};
      const bool full = static_cast<int>(kept.size()) == count;
      if (full && !(key < kept.rbegin()->first)) continue;
      std::string value(reinterpret_cast<const char*>(elements + static_cast<std::size_t>(k) * dim),
                        rowBytes);
      auto found = keyOf.find(value);
      if (found != keyOf.end()) {
        if (!(key < found->second)) continue;
        kept.erase(found->second);
        found->second = key;
        kept.emplace(key, std::move(value));
        continue;
      }
      keyOf.emplace(value, key);
      kept.emplace(key, std::move(value));
      if (full) {
        auto last = std::prev(kept.end());
        keyOf.erase(last->second);
        kept.erase(last);
      }
    }
  });
  if (static_cast<int>(kept.size()) < count) {
    FatalError(
        "ERROR: The training set holds %d distinct vectors, fewer than the %d code vectors asked "
        "for.\n",
        static_cast<int>(kept.size()), count);
  }
  int j = 0;
  for (const auto& entry : kept) {
    CodebookNode& node = codebook->Book[j++];
    std::memcpy(node.Vector.get(), entry.second.data(), rowBytes);
    std::int64_t total = 0;
    for (int e = 0; e < dim; ++e) total += node.Vector[e];
    node.VectorMean = cb_internal::RoundedMean(total, dim);
    node.Freq = 0;
    node.Name.reset();
  }
}

bool TrainingSetFitsInMemory(const SetReader& reader, int codebookSize) {
  const Codebook& head = reader.Header();
  const std::uint64_t dim = static_cast<std::uint64_t>(reader.Dimension());
  const std::uint64_t width = head.BytesPerElement <= 2 ? head.BytesPerElement : 4;
  const std::uint64_t labels = codebookSize <= 256 ? 1 : codebookSize <= 65536 ? 2 : 4;
  // Rows, a frequency, a label and a bound each.
  return cb_internal::FitsInMemory(static_cast<std::uint64_t>(head.Booksize),
                                   dim * width + sizeof(int) + labels + 2);
}

void WriteTrainingPartitioning(const char* filename, TrainingSource set,
                               const TrainingResult& result, int partitions, const char* method,
                               int overwrite) {
  const int n = set.Size();
  if (result.Labels.Count != n) {
    FatalError("ERROR: Partitioning is not for this training set (%d != %d).\n",
               result.Labels.Count, n);
  }
  FileReplacement file(filename, overwrite);
  if (file.stream() == nullptr) return;
  char version[kTextFieldSize];
  SetVerString(version, kPartitioningFile);
  cb_internal::PartitioningText text(file, version, partitions, n, method);
  const NarrowSet* narrow = set.Narrow();
  if (set.Streamed() && result.SetHasNames) {
    ForEachBatch(set, [&](int first, int rows, const int*, const char* const* names) {
      for (int k = 0; k < rows; ++k) {
        text.Add(result.Labels[first + k], names != nullptr ? names[k] : nullptr);
      }
    });
  } else {
    for (int i = 0; i < n; ++i) {
      text.Add(result.Labels[i], narrow != nullptr ? narrow->Name(i) : nullptr);
    }
  }
  text.Finish();
  file.Commit();
}
