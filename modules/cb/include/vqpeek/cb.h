// cb: the vector-quantisation data of the system. Include this header; it
// gathers the topic headers in <vqpeek/cb/>.
//
//  - Codebook: one record for codebooks and training sets, with its file
//    format (a text head and a binary body of node records), and the
//    operations that resize, copy, join and summarise records.
//  - Partitioning: the partition of every training vector, with a member
//    list and running totals per partition, its text file, and the
//    operations that resize, join and refill partitionings.
//  - Distances and error measures, nearest-vector partitioning and centroid
//    generation.
//  - Rows in batches bounded by bytes (BatchRows, RowBatches), and set
//    files read in such batches (SetReader).
//  - Figures of a set and of its partitions (distinct vectors, variance,
//    mean squared error, PSNR, rates), gathered batch by batch.
//  - Graph: vectors with the indices of their K nearest neighbours, and the
//    graph's text file.
//  - Training: codebooks made by the generalised Lloyd algorithm on a set
//    held in memory or streamed from its file.
//
// Records are plain structs owned by their caller; a record owns every
// array, vector and name that hangs from it and releases them through its
// free operation (or its destructor). A record is filled by exactly one
// create or read operation and emptied by its free operation.
//
// Fatal conditions print one message through ErrorMessage and end the
// process with ExitProcessing(-1) ("Fatal:" below). Informational output
// (listings, the frequency-total warning) goes through PrintMessage.
#ifndef VQPEEK_CB_H_
#define VQPEEK_CB_H_

#include "vqpeek/export.h"

#include "vqpeek/cb/codebook.h"
#include "vqpeek/cb/codebook_ops.h"
#include "vqpeek/cb/distance.h"
#include "vqpeek/cb/figures.h"
#include "vqpeek/cb/generation.h"
#include "vqpeek/cb/graph.h"
#include "vqpeek/cb/partitioning.h"
#include "vqpeek/cb/row_batches.h"
#include "vqpeek/cb/set_reader.h"
#include "vqpeek/cb/training.h"
#include "vqpeek/file.h"
#include "vqpeek/interfc.h"
#include "vqpeek/version.h"

#endif  // VQPEEK_CB_H_
