// vqtrain: trains a codebook on a training set with the library's
// generalised Lloyd algorithm, and writes it (and the partitioning of the
// set, when named).
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "train_options.h"
#include "vqpeek/cb.h"

namespace {

// The file meant by `name` (as given, or completed with .ts, .cb or .pa, as
// vqpeek finds its files), which must hold one of the kinds asked for.
std::string FindSetFile(const std::string& name, bool codebookToo, const char* what) {
  std::vector<char> buffer(name.begin(), name.end());
  buffer.resize(name.size() + 8, '\0');  // room for ".ts.zst"
  const int kind =
      DetermineCBFileTypeConsideringOrder(buffer.data(), 123, static_cast<int>(buffer.size()));
  if (kind == kNotRecognized && !ExistFile(name.c_str())) {
    FatalError("ERROR: Cannot find the %s %s.\n", what, name.c_str());
  }
  if (kind != kTrainingSetFile && !(codebookToo && kind == kCodebookFile)) {
    FatalError("ERROR: %s is not a %s file.\n", name.c_str(), what);
  }
  return buffer.data();
}

// Refuses an output that is an input (it would be lost) or the other
// output, and a file that cannot be created, before any work is done. A
// pipe or a device is not opened ahead: its reader would see it end.
void CheckOutput(const std::string& output, const std::vector<std::string>& others) {
  struct stat target;
  const bool exists = stat(output.c_str(), &target) == 0;
  if (exists) {
    for (const std::string& other : others) {
      struct stat info;
      if (!other.empty() && stat(other.c_str(), &info) == 0 && info.st_dev == target.st_dev &&
          info.st_ino == target.st_ino) {
        FatalError("ERROR: %s would be written over %s.\n", output.c_str(), other.c_str());
      }
    }
  }
  if (!exists || S_ISREG(target.st_mode)) {
    FileReplacement probe(output.c_str(), 1);
    probe.Abandon();
  }
}

// The progress report on standard error: a line per assignment, and within
// a pass that takes longer than a second, the library's progress display
// when standard error is a terminal.
class Report {
 public:
  Report(bool quiet, const Codebook& set)
      : quiet_(quiet),
        terminal_(isatty(STDERR_FILENO) == 1),
        peak_(PeakValue(set.BytesPerElement, set.MinValue, set.MaxValue)) {}

  void Pass(std::int64_t done, std::int64_t total) {
    if (quiet_ || !terminal_ || total <= 0) return;
    if (!open_) {
      if (Clock::now() - passStart_ < std::chrono::seconds(1)) return;
      OpenProgressWindow();
      UpdateProgressLabel("Iteration %d", iteration_);
      open_ = true;
      percent_ = -1;
    }
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == percent_) return;
    percent_ = percent;
    UpdateProgressBar(static_cast<int>(done), static_cast<int>(total));
  }

  void Iteration(const TrainingProgress& p) {
    if (open_) {
      CloseProgressWindow();
      open_ = false;
    }
    iteration_ = p.Iteration + 1;
    passStart_ = Clock::now();
    if (quiet_) return;
    const double psnr = p.Mse == 0 ? INFINITY : 10.0 * std::log10(peak_ * peak_ / p.Mse);
    std::fprintf(stderr,
                 "Iteration %d: MSE per element %.3f, PSNR %.2f dB, %d partitions refilled, "
                 "%.2f s\n",
                 p.Iteration, p.Mse, psnr, p.Refilled, p.Seconds);
  }

  void Stopped(const TrainingResult& result, const TrainCommand& command) {
    if (quiet_) return;
    switch (result.Stop) {
      case TrainingStop::kUpdates:
        std::fprintf(stderr, "Stopped after %d updates: the most asked for.\n", result.Updates);
        break;
      case TrainingStop::kZero:
        std::fprintf(stderr, "Stopped after %d updates: the distortion is 0.\n", result.Updates);
        break;
      case TrainingStop::kThreshold:
        std::fprintf(stderr,
                     "Stopped after %d updates: the distortion fell by no more than %g of "
                     "itself.\n",
                     result.Updates, command.Threshold);
        break;
    }
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool quiet_;
  bool terminal_;
  double peak_;
  bool open_ = false;
  int iteration_ = 0;
  int percent_ = -1;
  Clock::time_point passStart_ = Clock::now();
};

}  // namespace

int main(int argc, char** argv) {
  const TrainCommand command = ParseTrainCommand(argc, argv);
  const std::string setName = FindSetFile(command.TrainingSet, false, "training set");
  std::string initialName;
  if (!command.InitialFile.empty()) {
    initialName = FindSetFile(command.InitialFile, true, "codebook");
  }
  CheckOutput(command.CodebookOut, {setName, command.PartitioningOut});
  if (!command.PartitioningOut.empty()) {
    CheckOutput(command.PartitioningOut, {setName, command.CodebookOut});
  }

  SetReader reader(setName.c_str());
  Codebook initial;
  int codes = command.CodebookSize;
  if (!initialName.empty()) {
    ReadCodebook(initialName.c_str(), &initial);
    codes = initial.Booksize;
    const Codebook& head = reader.Header();
    if (VectorDimension(initial) != reader.Dimension()) {
      FatalError("ERROR: The initial codebook's vectors have %d elements, the training set's %d.\n",
                 VectorDimension(initial), reader.Dimension());
    }
    if (initial.BytesPerElement != head.BytesPerElement) {
      FatalError("ERROR: The initial codebook has %d bytes per element, the training set %d.\n",
                 initial.BytesPerElement, head.BytesPerElement);
    }
  }
  if (initialName.empty() && codes > reader.Header().Booksize) {
    FatalError(
        "ERROR: The training set holds %d vectors, fewer than the %d code vectors asked for.\n",
        reader.Header().Booksize, codes);
  }
  // The set is held at its file's width when the machine can give the
  // memory, else read from its file in every pass.
  NarrowSet held;
  const bool hold = !command.Stream && TrainingSetFitsInMemory(reader, codes);
  if (hold) {
    ReadNarrowSet(reader, &held);
  } else if (!reader.Rewindable()) {
    FatalError(
        "ERROR: The training set cannot be read again: a set that is streamed must be a file, "
        "not a pipe.\n");
  }
  const TrainingSource set = hold ? TrainingSource(held) : TrainingSource(reader);
  const Codebook& head = hold ? held.Header : reader.Header();

  Codebook codebook;
  CreateNewCodebook(&codebook, codes, &head);
  if (initialName.empty()) {
    ChooseTrainingVectors(set, codes, command.Seed, &codebook);
  } else {
    for (int k = 0; k < codes; ++k) {
      CopyNode(&initial.Book[k], &codebook.Book[k], VectorDimension(head));
    }
  }

  Report report(command.Quiet, head);
  TrainingOptions options;
  options.Updates = command.Updates;
  options.Threshold = command.Threshold;
  options.Threads = command.Threads;
  options.Progress = [&](const TrainingProgress& p) { report.Iteration(p); };
  options.PassProgress = [&](std::int64_t done, std::int64_t total) { report.Pass(done, total); };
  TrainingResult result;
  TrainCodebook(set, &codebook, options, &result);
  report.Stopped(result, command);

  char method[kTextFieldSize];
  std::snprintf(method, sizeof method, "generalised Lloyd, %d updates", result.Updates);
  std::snprintf(codebook.GenerationMethod, kTextFieldSize, "%s", method);
  WriteCodebook(command.CodebookOut.c_str(), &codebook, 1);
  if (!command.PartitioningOut.empty()) {
    WriteTrainingPartitioning(command.PartitioningOut.c_str(), set, result, codes, method, 1);
  }
  return 0;
}
