// Operations on codebook records: resizing, copying, joining and
// summarising. Part of <vqpeek/cb.h>.
#ifndef VQPEEK_CB_CODEBOOK_OPS_H_
#define VQPEEK_CB_CODEBOOK_OPS_H_

#include "vqpeek/cb/codebook.h"
#include "vqpeek/export.h"

//
// Growing builds a new node array of exactly the size asked for (no spare
// room), deep-copies the nodes in use into it and releases all old nodes;
// pointers to old nodes, vectors and names do not survive it. Fresh nodes
// exposed by growing have zero elements, Freq 0, VectorMean 0 and no name.
// Shrinking only lowers Booksize: the nodes beyond it keep their contents.
// Size checks that fail end the process with -1 without a message.
// Copies take the source first and the destination second.

// Booksize := n; requires 0 <= n < Booksize (else exits with -1).
VQPEEK_EXPORT void DecreaseCodebookSize(Codebook* CB, int n);
// Grows the allocation to exactly n when n > AllocatedSize, then Booksize :=
// n; requires n > Booksize (else exits with -1).
VQPEEK_EXPORT void IncreaseCodebookSize(Codebook* CB, int n);
// Booksize := n, shrinking or growing as above; n = Booksize changes
// nothing. Exits with -1 when n < 0.
VQPEEK_EXPORT void ChangeCodebookSize(Codebook* CB, int n);
// Grows the node array to exactly n nodes when n > AllocatedSize (never
// shrinks it); the header and the nodes in use are kept.
// Fatal: "CB::SetAllocatedCodebookSize: New allocated size (%i) <= logical
// booksize (%i).\n" when n <= Booksize; the messages of node allocation.
VQPEEK_EXPORT void SetAllocatedCodebookSize(Codebook* CB, int n);

// Makes `destination` a deep copy of `source`: elements, Freq, VectorMean
// and a new copy of the name. Nothing happens when they are the same node.
// Fatal: "ERROR: CopyVector source=%p dest=%p\n" for a null vector.
VQPEEK_EXPORT void CopyNode(const CodebookNode* source, CodebookNode* destination, int VectorDim);
// Replaces the node's name by a copy of `name` (which may be the node's own
// name), or by none when null.
VQPEEK_EXPORT void ChangeVectorName(CodebookNode* node, const char* name);
// Copies every header field (not Book, AllocatedSize or the element block),
// so the destination's Booksize may exceed its AllocatedSize afterwards.
VQPEEK_EXPORT void CopyCodebookHeader(const Codebook* source, Codebook* destination);
// Copies the header and the nodes in use into a destination that already
// has enough nodes; its nodes beyond the source's Booksize keep their
// contents. Fatal: "ERROR: Destination codebook is too small (%d ->
// %d).\n" (source Booksize, destination AllocatedSize); "ERROR: Codebooks
// have different vector dimensions (%d -> %d).\n" when the destination has
// nodes whose vectors have another length.
VQPEEK_EXPORT void CopyCodebook(const Codebook* source, Codebook* destination);
// Appends the nodes in use of `other` (which may be `CB` itself), growing
// as needed, adds its TotalFreq and appends "++" to GenerationMethod unless
// the text already ends with it or has more than 77 characters. Exits with
// -1 without a message when `other` has no nodes in use. Fatal: "ERROR:
// Codebooks have different vector dimensions (%d -> %d).\n".
VQPEEK_EXPORT void AddCodebook(Codebook* CB, const Codebook* other);
// The number of nodes in use whose vector occurs again at a later node:
// Booksize minus the number of distinct vectors. Names, frequencies and
// means are not compared.
VQPEEK_EXPORT int DuplicatesInCodebook(const Codebook* CB);
// Writes the frequency-weighted mean of the vectors in use, divided by the
// header's TotalFreq and rounded, into `centroid` (VectorDim elements);
// writes nothing when TotalFreq is 0. Fatal: "ERROR: Not enough memory for
// the centroid sums.\n".
VQPEEK_EXPORT void CodebookCentroid(const Codebook* CB, int* centroid);
// Recomputes the VectorMean of every node in use.
VQPEEK_EXPORT void CalculateVectorMeans(Codebook* CB);
// Replaces every node by Freq copies of it (none for Freq <= 0), each with
// Freq 1 and its own copy of the name, in the old order; Booksize and
// AllocatedSize become TotalFreq, the header stays. Fatal: "ERROR:
// TotalFreq (%d) is not the sum of the positive frequencies (%lld).\n",
// before anything changes; the messages of node allocation.
VQPEEK_EXPORT void UnrollTrainingSet(Codebook* TS);

#endif  // VQPEEK_CB_CODEBOOK_OPS_H_
