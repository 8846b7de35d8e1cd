// The neighbour graph: vectors with the indices of their K nearest
// neighbours, and the graph's text file. Part of <vqpeek/cb.h>.
#ifndef VQPEEK_CB_GRAPH_H_
#define VQPEEK_CB_GRAPH_H_

#include <cstdio>
#include <memory>

#include "vqpeek/export.h"

// A graph holds NumberVectors slots; each slot is empty or owns one vector
// of Dim coordinates and K neighbour indices. Neighbours are slot numbers,
// never pointers, so vectors may be made and read in any order.
//
// The counts may be changed after vectors exist, so every record remembers
// how much it actually holds: a vector the sizes of its own arrays, a graph
// the length of its slot array. Every operation stays within those, whatever
// the counts say; entries a vector does not hold read and write as 0.

struct GraphVector {
  int Index = 0;                 // own index in the graph
  std::unique_ptr<int[]> Coord;  // AllocatedDim coordinates (the graph's Dim)
  std::unique_ptr<int[]> NN;     // AllocatedK neighbour indices (the graph's K)
  int AllocatedDim = 0;
  int AllocatedK = 0;
};

struct Graph {
  int NumberVectors = 0;  // slots in use; never above AllocatedVectors
  int K = 0;
  int Dim = 0;
  int MaxCoord = 0;  // largest coordinate (never below 0), set by GraphRead
  int MinCoord = 0;  // smallest coordinate, set by GraphRead
  std::unique_ptr<std::unique_ptr<GraphVector>[]> Vectors;  // AllocatedVectors slots
  int AllocatedVectors = 0;
};

// Graphs are handed out and taken back as owning pointers.
using GraphPtr = std::unique_ptr<Graph>;
using GraphVectorPtr = std::unique_ptr<GraphVector>;

// --- Accessors ---
//
// Setters return 0. Every function that takes a vector accepts null for it
// (an empty slot) and then does nothing: getters give 0 or null, setters 1.

VQPEEK_EXPORT int GraphGetNumberVectors(const Graph* graph);
// Shrinking hides the slots from n on (their vectors are kept and come back
// when the count grows again); growing beyond the slot array extends it with
// empty slots. Returns 1 and changes nothing for a negative n or when the
// slot array cannot grow.
VQPEEK_EXPORT int GraphPutNumberVectors(Graph* graph, int n);
// K and Dim may be changed at any time; vectors keep the arrays they were
// made with.
VQPEEK_EXPORT int GraphGetK(const Graph* graph);
VQPEEK_EXPORT int GraphPutK(Graph* graph, int k);
VQPEEK_EXPORT int GraphGetDim(const Graph* graph);
VQPEEK_EXPORT int GraphPutDim(Graph* graph, int dim);
VQPEEK_EXPORT int GraphGetMaxCoord(const Graph* graph);
VQPEEK_EXPORT int GraphGetMinCoord(const Graph* graph);
// The vector in slot `index`, or null for an empty slot or an index outside
// 0 .. NumberVectors-1.
VQPEEK_EXPORT GraphVector* GraphGetVector(const Graph* graph, int index);
VQPEEK_EXPORT int GraphGetVectorIndex(const GraphVector* vector);
// The vector's coordinate array: the graph's Dim when the vector was made.
VQPEEK_EXPORT int* GraphGetVectorCoord(GraphVector* vector);
// Coord[index] := value. Returns 1 and changes nothing for an index outside
// the vector's coordinates.
VQPEEK_EXPORT int GraphPutVectorElement(GraphVector* vector, int index, int value);
// The vector in the slot named by NN[index], or null when index is negative
// or not below K, when NN[index] names no slot of the graph, or when that
// slot is empty.
VQPEEK_EXPORT GraphVector* GraphGetNNVector(const Graph* graph, const GraphVector* vector,
                                            int index);
// NN[index] := value. Returns 1 and changes nothing when index is negative
// or not below K (or beyond the vector's own array).
VQPEEK_EXPORT int GraphPutNN(const Graph* graph, GraphVector* vector, int value, int index);
// 1 when the Index of `to` is among the first K neighbours of `from`, else 0
// (always 0 when K <= 0). The relation is directed.
VQPEEK_EXPORT int IsGraphEdge(const Graph* graph, const GraphVector* from, const GraphVector* to);

// --- Creation and release ---

// A graph with the three counts, MaxCoord and MinCoord 0 and numberVectors
// empty slots. Returns null silently when the record cannot be allocated;
// prints "Allocate error: AllocateMemoryForGraph(Graph)" (with a newline) on
// standard output and returns null when the slot array cannot be allocated
// or numberVectors is negative.
VQPEEK_EXPORT GraphPtr AllocateMemoryForGraph(int numberVectors, int k, int dim);
// A vector with Index = index and the graph's Dim coordinates and K
// neighbours, all 0. It is not entered into the graph. Prints "Allocate
// error: AllocateMemoryForGraphVector()" (with a newline) on standard output
// and returns null when it cannot be allocated or Dim or K is negative.
VQPEEK_EXPORT GraphVectorPtr AllocateMemoryForGraphVector(const Graph* graph, int index);
// Stores a new vector with Index = index, a copy of Dim coordinates from
// `coords` and K neighbours set to 0 in slot `index`, replacing any vector
// there. Returns 0, or 1 with nothing stored when index is outside 0 ..
// NumberVectors-1, `coords` is null while Dim > 0, or allocation fails.
VQPEEK_EXPORT int GraphPutVector(Graph* graph, int index, const int* coords);
// Releases the vector in slot `index` and leaves the slot empty. Returns 0,
// or 1 when the slot is empty or index is outside 0 .. NumberVectors-1.
VQPEEK_EXPORT int FreeGraphVector(Graph* graph, int index);
// Releases the graph with every vector it holds. Returns 0.
VQPEEK_EXPORT int FreeGraph(GraphPtr graph);

// --- Graph files ---
//
// A graph file is text: "Graph v. 1", NumberVectors, K and Dim on lines of
// their own, a line of 37 dashes, then one line per slot: the Dim
// coordinates and the K neighbour indices, each followed by one blank. A
// vector's index is its line number among the vector lines, from 0. Every
// written line holds Dim + K numbers: entries a vector does not hold, and
// all of an empty slot, are written as 0 (an empty slot reads back as a
// vector of zeros).

// Write the header, and one vector line (zeros for null). Return 0, or 1
// when the stream reports a write error.
VQPEEK_EXPORT int WriteGraphkFileHeader(FILE* file, const Graph* graph);
VQPEEK_EXPORT int WriteGraphVectorToFile(FILE* file, const Graph* graph, const GraphVector* vector);

// Reads a header and returns a graph made by AllocateMemoryForGraph with its
// counts, the stream left at the first vector line. The counts are read as
// scanf's "%i" reads them (leading whitespace, sign, 0x for hexadecimal, a
// leading 0 for octal); a value beyond the int range counts as INT_MIN or
// INT_MAX. Returns null, without a message, when the text does not start
// with "Graph v.", a count is missing or negative, the stream's size cannot
// be told, or the rest of the stream is too short for what the header
// promises: every vector line takes at least 2 bytes per number (1 byte when
// Dim + K is 0).
VQPEEK_EXPORT GraphPtr ReadGraphFileHeader(FILE* file);
// Reads one whole line, of any length, and returns a vector with Index =
// index. From the line's start: whitespace is skipped; a decimal number
// (strtol's form, clamped to the int range) fills the next coordinate, then
// the next neighbour, and the one character after it is stepped over; any
// other character counts as the number 0 and is stepped over. Numbers beyond
// Dim + K are ignored; entries the line holds no number for are 0. A NUL
// byte ends the line's text: the rest of that line is ignored. Returns null
// when the stream ends before a newline (a last line without one is not
// read) or, after the allocation message, when the vector cannot be made.
VQPEEK_EXPORT GraphVectorPtr ReadGraphVectorFromFile(FILE* file, const Graph* graph, int index);
// The size of the buffer `readline` fills, terminator included.
inline constexpr int kGraphLineBufferSize = 1024;
// Reads one line into `buffer` (kGraphLineBufferSize bytes), keeping at most
// its first 1023 characters (the newline included when it fits) and NUL-
// terminated; the rest of a longer line is read and dropped, so the next
// call starts at the next line. Returns 0 when the line ended with a
// newline, 1 when the stream ended first (or nothing was left to read).
VQPEEK_EXPORT int readline(FILE* file, char* buffer);
// 1 when `path` opens (FileOpen mode 1, with its message otherwise) and
// ReadGraphFileHeader accepts its header, else 0.
VQPEEK_EXPORT int IsGraphFile(const char* path);
// Reads a whole graph file: the header, then one line per slot. A slot
// whose line cannot be read (the file ends early, or its last line has no
// newline) stays empty. MaxCoord is the largest coordinate, at least 0;
// MinCoord the smallest, 2147483647 when there are none. Returns null when
// the file cannot be opened or the header is refused.
VQPEEK_EXPORT GraphPtr GraphRead(const char* path);
// Writes the graph to `path` whole through a FileReplacement, as
// WriteCodebook does. Returns 0; 1 with nothing written when the file exists
// and `overwrite` is not 1, or when a count is negative (no reader would
// accept it). Fatal: the FileReplacement messages when the file cannot be
// created or written (an old file stays as it was).
VQPEEK_EXPORT int GraphWrite(const char* path, const Graph* graph, int overwrite);
// Writes the vector lines of the file form to standard output, no header.
// Returns 0.
VQPEEK_EXPORT int GraphPrint(const Graph* graph);

#endif  // VQPEEK_CB_GRAPH_H_
