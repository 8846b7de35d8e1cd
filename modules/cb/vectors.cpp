// Vectors and nodes.
#include <cstring>
#include <new>
#include <string>

#include "cb_internal.h"
#include "vqpeek/cb.h"

VectorPtr CreateEmptyVector(int count) {
  try {
    if (count < 0) throw std::bad_alloc();
    return VectorPtr(std::make_unique<int[]>(static_cast<std::size_t>(count)).release(),
                     VectorDeleter{true});
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for new vector element.\n");
  }
}

void FreeVector(VectorPtr& vector) { vector.reset(); }

void CopyVector(const int* source, int* dest, int count) {
  if (source == nullptr || dest == nullptr) {
    FatalError("ERROR: CopyVector source=%p dest=%p\n", static_cast<const void*>(source),
               static_cast<void*>(dest));
  }
  // Source and destination may be the same vector.
  if (count > 0) std::memmove(dest, source, static_cast<std::size_t>(count) * sizeof(int));
}

int CompareVectors(const int* a, const int* b, int count) {
  for (int i = 0; i < count; ++i) {
    if (a[i] != b[i]) return a[i] > b[i] ? 1 : -1;
  }
  return 0;
}

void PrintVector(const int* vector, int BlockSizeX, int BlockSizeY) {
  std::string line;
  const int count = BlockSizeX * BlockSizeY;
  char element[16];
  for (int i = 0; i < count; ++i) {
    std::snprintf(element, sizeof element, "%3i ", vector[i]);
    line += element;
  }
  PrintMessage("%s\n", line.c_str());
}

CodebookNode CreateEmptyNode(int VectorDim) {
  CodebookNode node;
  node.Vector = CreateEmptyVector(VectorDim);
  return node;
}

void FreeNode(CodebookNode& node) {
  node.Vector.reset();
  node.Name.reset();
}
