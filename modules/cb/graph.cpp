// The neighbour graph record: accessors, allocation and release, console
// print.
#include <cassert>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <new>
#include <utility>

#include "vqpeek/cb.h"

namespace {

bool IsSlot(const Graph* graph, int index) { return index >= 0 && index < graph->NumberVectors; }

// A vector with zeroed arrays, or null when the counts are negative or memory
// runs out. The arrays are zeroed so that entries nobody set (short file
// lines, fresh neighbours) always read and write as 0.
GraphVectorPtr MakeVector(int dim, int k, int index) {
  if (dim < 0 || k < 0) return nullptr;
  try {
    auto vector = std::make_unique<GraphVector>();
    vector->Index = index;
    vector->Coord = std::make_unique<int[]>(static_cast<std::size_t>(dim));
    vector->NN = std::make_unique<int[]>(static_cast<std::size_t>(k));
    vector->AllocatedDim = dim;
    vector->AllocatedK = k;
    return vector;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// `count` empty slots, or null when count is negative or memory runs out.
// (An array of 0 slots is not null.)
std::unique_ptr<GraphVectorPtr[]> MakeSlots(int count) {
  if (count < 0) return nullptr;
  try {
    return std::make_unique<GraphVectorPtr[]>(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

// --- Accessors ---

int GraphGetNumberVectors(const Graph* graph) { return graph->NumberVectors; }

int GraphPutNumberVectors(Graph* graph, int n) {
  if (n < 0) return 1;
  if (n > graph->AllocatedVectors) {
    std::unique_ptr<GraphVectorPtr[]> slots = MakeSlots(n);
    if (slots == nullptr) return 1;
    for (int i = 0; i < graph->AllocatedVectors; ++i) slots[i] = std::move(graph->Vectors[i]);
    graph->Vectors = std::move(slots);
    graph->AllocatedVectors = n;
  }
  graph->NumberVectors = n;
  return 0;
}

int GraphGetK(const Graph* graph) { return graph->K; }

int GraphPutK(Graph* graph, int k) {
  graph->K = k;
  return 0;
}

int GraphGetDim(const Graph* graph) { return graph->Dim; }

int GraphPutDim(Graph* graph, int dim) {
  graph->Dim = dim;
  return 0;
}

int GraphGetMaxCoord(const Graph* graph) { return graph->MaxCoord; }

int GraphGetMinCoord(const Graph* graph) { return graph->MinCoord; }

GraphVector* GraphGetVector(const Graph* graph, int index) {
  return IsSlot(graph, index) ? graph->Vectors[index].get() : nullptr;
}

int GraphGetVectorIndex(const GraphVector* vector) { return vector != nullptr ? vector->Index : 0; }

int* GraphGetVectorCoord(GraphVector* vector) {
  return vector != nullptr ? vector->Coord.get() : nullptr;
}

int GraphPutVectorElement(GraphVector* vector, int index, int value) {
  if (vector == nullptr || index < 0 || index >= vector->AllocatedDim) return 1;
  vector->Coord[index] = value;
  return 0;
}

GraphVector* GraphGetNNVector(const Graph* graph, const GraphVector* vector, int index) {
  if (vector == nullptr || index < 0 || index >= graph->K || index >= vector->AllocatedK) {
    return nullptr;
  }
  // The entry may come from a file: it is only a slot number if it says so.
  return GraphGetVector(graph, vector->NN[index]);
}

int GraphPutNN(const Graph* graph, GraphVector* vector, int value, int index) {
  if (vector == nullptr || index < 0 || index >= graph->K || index >= vector->AllocatedK) return 1;
  vector->NN[index] = value;
  return 0;
}

int IsGraphEdge(const Graph* graph, const GraphVector* from, const GraphVector* to) {
  if (from == nullptr || to == nullptr) return 0;
  const int count = graph->K < from->AllocatedK ? graph->K : from->AllocatedK;
  for (int i = 0; i < count; ++i) {
    if (from->NN[i] == to->Index) return 1;
  }
  return 0;
}

// --- Creation and release ---

GraphPtr AllocateMemoryForGraph(int numberVectors, int k, int dim) {
  GraphPtr graph;
  try {
    graph = std::make_unique<Graph>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  graph->Vectors = MakeSlots(numberVectors);
  if (graph->Vectors == nullptr) {
    std::puts("Allocate error: AllocateMemoryForGraph(Graph)");
    return nullptr;
  }
  graph->NumberVectors = numberVectors;
  graph->AllocatedVectors = numberVectors;
  graph->K = k;
  graph->Dim = dim;
  return graph;
}

GraphVectorPtr AllocateMemoryForGraphVector(const Graph* graph, int index) {
  GraphVectorPtr vector = MakeVector(graph->Dim, graph->K, index);
  if (vector == nullptr) std::puts("Allocate error: AllocateMemoryForGraphVector()");
  return vector;
}

int GraphPutVector(Graph* graph, int index, const int* coords) {
  if (!IsSlot(graph, index) || (coords == nullptr && graph->Dim > 0)) return 1;
  GraphVectorPtr vector = MakeVector(graph->Dim, graph->K, index);
  if (vector == nullptr) return 1;
  for (int i = 0; i < graph->Dim; ++i) vector->Coord[i] = coords[i];
  graph->Vectors[index] = std::move(vector);
  return 0;
}

int FreeGraphVector(Graph* graph, int index) {
  if (!IsSlot(graph, index) || graph->Vectors[index] == nullptr) return 1;
  graph->Vectors[index].reset();
  return 0;
}

int FreeGraph(GraphPtr graph) {
  // The slot array owns the vectors and each vector its arrays.
  graph.reset();
  return 0;
}

// --- Console ---

int GraphPrint(const Graph* graph) {
  assert(graph != nullptr);
  for (int i = 0; i < graph->NumberVectors; ++i) {
    WriteGraphVectorToFile(stdout, graph, graph->Vectors[i].get());
  }
  return 0;
}
