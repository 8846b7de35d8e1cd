// The Codebook record: node allocation, creation, release and printing, and
// the helpers the module shares.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "cb_internal.h"
#include "parallel_parts.h"
#include "vqpeek/cb.h"
#include "vqpeek/threads.h"

namespace cb_internal {

void FaultInParallel(void* data, std::size_t bytes, bool zero,
                     const std::function<void()>& alongside, std::size_t worthThreads) {
  // The first write to a fresh page is a page fault, which costs far more
  // than the write; the pages of each chunk are made present in one call
  // first, on several threads at the same time. Part 0 is `alongside`.
  constexpr std::size_t kChunk = std::size_t{2} << 20;
  auto* bytesOf = static_cast<unsigned char*>(data);
  const std::size_t chunks = (bytes + kChunk - 1) / kChunk;
  const int threads = bytes >= worthThreads ? std::min(UsableProcessors(), 8) : 1;
  RunInParallel(static_cast<int>(chunks) + 1, threads, [&](int part, int) {
    if (part == 0) {
      alongside();
      return;
    }
    const std::size_t c = static_cast<std::size_t>(part - 1);
    const std::size_t size = std::min(kChunk, bytes - c * kChunk);
    PrefaultPages(bytesOf + c * kChunk, size);
    if (zero) std::memset(bytesOf + c * kChunk, 0, size);
  });
}

int ThreadsFor(std::int64_t count, std::int64_t partSize) {
  const std::int64_t parts = partSize > 0 ? (count + partSize - 1) / partSize : 0;
  if (parts < 2) return 1;
  const std::int64_t usable = UsableProcessors();
  return static_cast<int>(std::min({usable, parts, std::int64_t{8}}));
}

void RunInParts(std::int64_t count, std::int64_t partSize, int threads,
                const std::function<void(std::int64_t, std::int64_t, int)>& work) {
  if (count <= 0) return;
  const std::int64_t parts = (count + partSize - 1) / partSize;
  RunInParallel(static_cast<int>(parts), threads, [&](int part, int worker) {
    const std::int64_t begin = part * partSize;
    work(begin, std::min(count, begin + partSize), worker);
  });
}

void AllocateNodes(Codebook* CB, int n, int dim, bool zeroElements) {
  CB->Booksize = n;
  const std::size_t width = dim > 0 ? static_cast<std::size_t>(dim) : 0;
  const std::size_t count = n > 0 ? static_cast<std::size_t>(n) * width : 0;
  // A node count may come from a count that no file backs (the partitions
  // of a partitioning file): refused at once when it cannot be held.
  if (n > 0 &&
      !FitsInMemory(static_cast<std::uint64_t>(n), sizeof(CodebookNode) + width * sizeof(int))) {
    FatalError("ERROR: allocate CB->Book\n");
  }
  std::unique_ptr<int[]> elements;
  bool elementsFailed = false;
  try {
    if (n < 0) throw std::bad_alloc();
    elements = std::make_unique_for_overwrite<int[]>(count);
  } catch (const std::bad_alloc&) {
    elementsFailed = true;
  }
  // The node array is built, its vectors pointing into the element block,
  // while other threads make the element block present.
  std::unique_ptr<CodebookNode[]> book;
  bool bookFailed = false;
  FaultInParallel(elements.get(), elementsFailed ? 0 : count * sizeof(int), zeroElements, [&] {
    try {
      if (n < 0) throw std::bad_alloc();
      book = std::make_unique<CodebookNode[]>(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
      bookFailed = true;
      return;
    }
    for (int i = 0; i < n && !elementsFailed; ++i) {
      book[i].Vector =
          VectorPtr(elements.get() + static_cast<std::size_t>(i) * width, VectorDeleter{false});
    }
  });
  if (bookFailed) FatalError("ERROR: allocate CB->Book\n");
  if (elementsFailed) FatalError("ERROR: Not enough memory for new vector element.\n");
  CB->Book = std::move(book);
  CB->ElementBlock = std::move(elements);
  CB->AllocatedSize = n;
}

NamePtr CopyName(const char* text) {
  if (text == nullptr) return nullptr;
  const std::size_t length = std::strlen(text);
  NamePtr copy = std::make_unique_for_overwrite<char[]>(length + 1);
  std::memcpy(copy.get(), text, length + 1);
  return copy;
}

}  // namespace cb_internal

int VectorDimension(const Codebook& CB) {
  // A 32-bit product, as the record has always been sized; the readers
  // refuse block sizes whose product does not fit.
  return static_cast<int>(static_cast<std::int64_t>(CB.BlockSizeX) * CB.BlockSizeY);
}

void CreateNewCodebook(Codebook* CB, int Booksize, const Codebook* templateSet) {
  // The template's header, but a codebook's version line, no method, and
  // the size asked for (set by the node allocation).
  CopyCodebookHeader(templateSet, CB);
  SetVerString(CB->Versionstr, kCodebookFile);
  ClearString(CB->GenerationMethod);
  cb_internal::AllocateNodes(CB, Booksize, VectorDimension(*CB));
}

void CreateNewTrainingSet(Codebook* TS, int Booksize, int BlockSizeX, int BlockSizeY,
                          int BytesPerElement, int MinValue, int MaxValue, int Preprocessing,
                          const char* GenerationMethod) {
  SetVerString(TS->Versionstr, kTrainingSetFile);
  TS->BlockSizeX = BlockSizeX;
  TS->BlockSizeY = BlockSizeY;
  TS->TotalFreq = 0;
  TS->BytesPerElement = BytesPerElement;
  TS->MinValue = MinValue;
  TS->MaxValue = MaxValue;
  TS->Preprocessing = Preprocessing;
  std::snprintf(TS->GenerationMethod, kTextFieldSize, "%s",
                GenerationMethod != nullptr ? GenerationMethod : "");
  cb_internal::AllocateNodes(TS, Booksize, VectorDimension(*TS));
}

void FreeCodebook(Codebook* CB) {
  CB->Book.reset();
  CB->ElementBlock.reset();
  CB->AllocatedSize = 0;
}

void PrintCodebook(const Codebook* CB) {
  PrintMessage("Codebook generated: %s\n", CB->GenerationMethod);
  PrintMessage("Vectors=%i, Totalfreq=%i \n", CB->Booksize, CB->TotalFreq);
  const int dim = VectorDimension(*CB);
  std::string line;
  char field[48];
  for (int i = 0; i < CB->Booksize; ++i) {
    const CodebookNode& node = CB->Book[i];
    std::snprintf(field, sizeof field, "%-3i: (f=%-4i, vm=%-3i)  ", i, node.Freq, node.VectorMean);
    line = field;
    for (int e = 0; e < dim; ++e) {
      std::snprintf(field, sizeof field, "%3i ", node.Vector[e]);
      line += field;
    }
    PrintMessage("%s\n", line.c_str());
  }
}
