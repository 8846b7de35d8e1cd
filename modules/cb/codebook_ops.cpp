// Operations on existing Codebook records: logical and allocated size,
// copies of nodes, headers and records, joining, duplicate counting, the
// weighted centroid, vector means and the unrolling of a training set.
//
// The node vectors of a record are slices of its element block, so a node
// can never move from one record to another. Whenever the node array has to
// grow, a temporary record with fresh nodes is made, the nodes in use are
// deep-copied into it, and its node array and element block then replace
// those of the record (which releases every old node with its name).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>
#include <vector>

#include "cb_internal.h"
#include "vqpeek/cb.h"

namespace {

// Takes over the node array and element block of `from`; the old nodes of
// `CB` and their element block are released.
void AdoptNodes(Codebook* CB, Codebook* from) {
  CB->Book = std::move(from->Book);
  CB->ElementBlock = std::move(from->ElementBlock);
  CB->AllocatedSize = from->AllocatedSize;
  from->AllocatedSize = 0;
}

// Both records must have vectors of one length before nodes move between
// them; anything else would read or write beyond a vector.
void RequireEqualDimensions(const Codebook* source, const Codebook* destination) {
  const int sourceDim = VectorDimension(*source);
  const int destinationDim = VectorDimension(*destination);
  if (sourceDim != destinationDim) {
    FatalError("ERROR: Codebooks have different vector dimensions (%d -> %d).\n", sourceDim,
               destinationDim);
  }
}

}  // namespace

void DecreaseCodebookSize(Codebook* CB, int n) {
  if (n < 0 || n >= CB->Booksize) ExitProcessing(-1);
  CB->Booksize = n;
}

void IncreaseCodebookSize(Codebook* CB, int n) {
  if (n <= CB->Booksize) ExitProcessing(-1);
  if (n > CB->AllocatedSize) SetAllocatedCodebookSize(CB, n);
  CB->Booksize = n;
}

void ChangeCodebookSize(Codebook* CB, int n) {
  if (n < 0) ExitProcessing(-1);
  if (n < CB->Booksize) {
    DecreaseCodebookSize(CB, n);
  } else if (n > CB->Booksize) {
    IncreaseCodebookSize(CB, n);
  }
}

void SetAllocatedCodebookSize(Codebook* CB, int n) {
  if (n <= CB->Booksize) {
    FatalError("CB::SetAllocatedCodebookSize: New allocated size (%i) <= logical booksize (%i).\n",
               n, CB->Booksize);
  }
  if (n <= CB->AllocatedSize) return;  // the allocation never shrinks

  Codebook grown;
  CreateNewCodebook(&grown, n, CB);
  // A header copied alone may claim more nodes than exist; only nodes that
  // exist can be copied.
  const int inUse = std::min(CB->Booksize, CB->AllocatedSize);
  const int dim = VectorDimension(*CB);
  for (int i = 0; i < inUse; ++i) CopyNode(&CB->Book[i], &grown.Book[i], dim);
  AdoptNodes(CB, &grown);
}

void CopyNode(const CodebookNode* source, CodebookNode* destination, int VectorDim) {
  if (source == destination) return;
  CopyVector(source->Vector.get(), destination->Vector.get(), VectorDim);
  destination->Freq = source->Freq;
  destination->VectorMean = source->VectorMean;
  destination->Name = cb_internal::CopyName(source->Name.get());
}

void ChangeVectorName(CodebookNode* node, const char* name) {
  // The copy is made before the old name goes, so a node may be given its
  // own name.
  node->Name = cb_internal::CopyName(name);
}

void CopyCodebookHeader(const Codebook* source, Codebook* destination) {
  if (source == destination) return;
  std::memcpy(destination->Versionstr, source->Versionstr, kTextFieldSize);
  destination->BlockSizeX = source->BlockSizeX;
  destination->BlockSizeY = source->BlockSizeY;
  destination->Booksize = source->Booksize;
  destination->TotalFreq = source->TotalFreq;
  destination->BytesPerElement = source->BytesPerElement;
  destination->MinValue = source->MinValue;
  destination->MaxValue = source->MaxValue;
  destination->Preprocessing = source->Preprocessing;
  std::memcpy(destination->GenerationMethod, source->GenerationMethod, kTextFieldSize);
}

void CopyCodebook(const Codebook* source, Codebook* destination) {
  if (destination->AllocatedSize < source->Booksize) {
    FatalError("ERROR: Destination codebook is too small (%d -> %d).\n", source->Booksize,
               destination->AllocatedSize);
  }
  // Every allocated node of the destination takes the source's block size
  // with the header, so its vectors must already have the source's length.
  if (destination->AllocatedSize > 0) RequireEqualDimensions(source, destination);
  const int count = source->Booksize;
  CopyCodebookHeader(source, destination);
  const int dim = VectorDimension(*source);
  for (int i = 0; i < count; ++i) CopyNode(&source->Book[i], &destination->Book[i], dim);
}

void AddCodebook(Codebook* CB, const Codebook* other) {
  // `other` may be `CB` itself: its size and total are taken before they
  // change, and its nodes are read only below the old Booksize.
  const int oldSize = CB->Booksize;
  const int added = other->Booksize;
  const int addedFreq = other->TotalFreq;
  if (added <= 0) ExitProcessing(-1);
  RequireEqualDimensions(other, CB);
  const std::int64_t newSize = static_cast<std::int64_t>(oldSize) + added;
  if (newSize > INT32_MAX) FatalError("ERROR: allocate CB->Book\n");

  const int m = static_cast<int>(newSize);
  if (m > CB->AllocatedSize) SetAllocatedCodebookSize(CB, m);
  CB->Booksize = m;
  const int dim = VectorDimension(*CB);
  for (int i = 0; i < added; ++i) CopyNode(&other->Book[i], &CB->Book[oldSize + i], dim);
  CB->TotalFreq = cb_internal::WrapAdd32(CB->TotalFreq, addedFreq);

  // The mark goes on once, and only while the text still fits the field.
  char* method = CB->GenerationMethod;
  const std::ptrdiff_t length = std::find(method, method + kTextFieldSize, '\0') - method;
  const bool marked = length >= 2 && method[length - 2] == '+' && method[length - 1] == '+';
  if (length <= kTextFieldSize - 3 && !marked) std::memcpy(method + length, "++", 3);
}

int DuplicatesInCodebook(const Codebook* CB) {
  const int size = CB->Booksize;
  if (size < 2) return 0;
  const int dim = VectorDimension(*CB);
  // Sorting the node indices by vector puts equal vectors next to each
  // other; each node that equals its predecessor in that order is one that
  // occurs again, which is what the pairwise count finds, in n log n.
  std::vector<int> order(static_cast<std::size_t>(size));
  std::iota(order.begin(), order.end(), 0);
  const CodebookNode* book = CB->Book.get();
  std::sort(order.begin(), order.end(), [book, dim](int a, int b) {
    return CompareVectors(book[a].Vector.get(), book[b].Vector.get(), dim) < 0;
  });
  int duplicates = 0;
  for (int k = 1; k < size; ++k) {
    if (CompareVectors(book[order[k - 1]].Vector.get(), book[order[k]].Vector.get(), dim) == 0) {
      ++duplicates;
    }
  }
  return duplicates;
}

void CodebookCentroid(const Codebook* CB, int* centroid) {
  if (CB->TotalFreq == 0) return;
  const int dim = VectorDimension(*CB);
  std::unique_ptr<std::int64_t[]> sums;
  try {
    if (dim < 0) throw std::bad_alloc();
    sums = std::make_unique<std::int64_t[]>(static_cast<std::size_t>(dim));
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for the centroid sums.\n");
  }
  // Products and sums wrap in 64 bits instead of overflowing; only sets far
  // beyond any real size come near that.
  for (int i = 0; i < CB->Booksize; ++i) {
    const int* vector = CB->Book[i].Vector.get();
    const std::int64_t freq = CB->Book[i].Freq;
    for (int j = 0; j < dim; ++j) {
      sums[j] = cb_internal::WrapAdd(sums[j], cb_internal::WrapMul(vector[j], freq));
    }
  }
  // The divisor is the header's TotalFreq, as the record states it.
  const double total = static_cast<double>(CB->TotalFreq);
  for (int j = 0; j < dim; ++j) {
    centroid[j] = cb_internal::TruncateToInt(static_cast<double>(sums[j]) / total + 0.5);
  }
}

void CalculateVectorMeans(Codebook* CB) {
  const int dim = VectorDimension(*CB);
  for (int i = 0; i < CB->Booksize; ++i) {
    const int* vector = CB->Book[i].Vector.get();
    std::int64_t sum = 0;
    for (int j = 0; j < dim; ++j) sum += vector[j];
    CB->Book[i].VectorMean = cb_internal::RoundedMean(sum, dim);
  }
}

void UnrollTrainingSet(Codebook* TS) {
  // The new array has exactly TotalFreq nodes; any other count of copies
  // would overrun it or leave nodes without a vector to stand for.
  std::int64_t copies = 0;
  for (int i = 0; i < TS->Booksize; ++i) {
    if (TS->Book[i].Freq > 0) copies += TS->Book[i].Freq;
  }
  if (copies != TS->TotalFreq) {
    FatalError("ERROR: TotalFreq (%d) is not the sum of the positive frequencies (%lld).\n",
               TS->TotalFreq, static_cast<long long>(copies));
  }

  Codebook unrolled;
  CreateNewTrainingSet(&unrolled, TS->TotalFreq, TS->BlockSizeX, TS->BlockSizeY,
                       TS->BytesPerElement, TS->MinValue, TS->MaxValue, TS->Preprocessing,
                       TS->GenerationMethod);
  const int dim = VectorDimension(*TS);
  int j = 0;
  for (int i = 0; i < TS->Booksize; ++i) {
    for (int copy = 0; copy < TS->Book[i].Freq; ++copy, ++j) {
      CopyNode(&TS->Book[i], &unrolled.Book[j], dim);
      unrolled.Book[j].Freq = 1;
    }
  }
  AdoptNodes(TS, &unrolled);
  TS->Booksize = TS->TotalFreq;
}
