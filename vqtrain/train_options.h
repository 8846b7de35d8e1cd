// vqtrain's command line.
//
// Options come before, between or after the names, each as its own
// argument ("-k 256" or "-k256"); "--" ends the options. Every error
// prints "ERROR: ..." and the hint to --help on standard error and ends the
// process with status 255; --help and --version print on standard output
// and end it with status 0.
#ifndef VQPEEK_VQTRAIN_TRAIN_OPTIONS_H_
#define VQPEEK_VQTRAIN_TRAIN_OPTIONS_H_

#include <cstdint>
#include <string>

struct TrainCommand {
  int CodebookSize = 0;     // -k; 0 when an initial codebook is given
  std::string InitialFile;  // -i
  int Updates = 100;        // -I
  double Threshold = 1e-4;  // -t
  std::uint64_t Seed = 1;   // -s
  int Threads = 0;          // -j; 0: the usable processors
  bool Quiet = false;       // -q
  bool Stream = false;      // --stream
  std::string TrainingSet;
  std::string CodebookOut;
  std::string PartitioningOut;  // empty: none
};

// The usage text that --help prints.
const char* TrainUsage();

// Parses argv[1 .. argc-1].
TrainCommand ParseTrainCommand(int argc, char** argv);

#endif  // VQPEEK_VQTRAIN_TRAIN_OPTIONS_H_
