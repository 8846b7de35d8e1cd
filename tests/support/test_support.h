// Helpers shared by the tests: temporary directories, file bytes, fatal-exit
// expectations and running the built vqpeek.
#ifndef VQPEEK_TESTS_SUPPORT_TEST_SUPPORT_H_
#define VQPEEK_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace vqtest {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` inside the directory.
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);
// The names in a directory, sorted.
std::vector<std::string> DirectoryNames(const std::string& path);

// For the child of a death test: from now on no file may grow beyond
// `bytes`, and a write past that fails (EFBIG) instead of ending the process.
void LimitFileSize(std::uint64_t bytes);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// A regular expression that matches exactly `text` (the whole stderr of a
// death test).
std::string ExactRegex(const std::string& text);

// Flushes standard output and points it at standard error, so that a death
// test sees what the dying statement prints to standard output.
void RouteStdoutToStderr();

// What `print` writes to the stream it is handed.
std::string CaptureOutput(const std::function<void(FILE*)>& print);

// What a finished vqpeek run left behind.
struct RunResult {
  std::string out;  // standard output
  std::string err;  // standard error
  int status = -1;  // exit status as the shell sees it
};

// Runs the built vqpeek (or the command in the environment variable
// VQPEEK_UNDER_TEST) with `args` in the directory `workdir` (the current
// one when empty), under an address-space limit of `addressSpaceLimit` bytes
// when that is not 0. Standard input is empty (/dev/null).
RunResult RunVqpeek(const std::vector<std::string>& args, const std::string& workdir = "",
                    std::uint64_t addressSpaceLimit = 0);

// Runs the built vqtrain with `args` in the directory `workdir`.
RunResult RunVqtrain(const std::vector<std::string>& args, const std::string& workdir = "");

// Runs `command` (the program and its arguments) as RunVqpeek runs vqpeek.
RunResult RunCommand(const std::vector<std::string>& command, const std::string& workdir = "",
                     std::uint64_t addressSpaceLimit = 0);

// Runs `script` with bash in `workdir`, where $VQPEEK (unquoted) runs the
// program as RunVqpeek does: for pipes, process substitution and
// redirections. Standard input is empty.
RunResult RunVqpeekScript(const std::string& script, const std::string& workdir = "");

// `bytes` compressed by the command-line tool `tool` ("gzip" or "zstd").
std::string CompressWith(const std::string& tool, const std::string& bytes);

// Compares `actual` with the file tests/<relativePath> of the source tree.
// With VQPEEK_UPDATE_GOLDEN=1 in the environment the file is rewritten
// instead (after a deliberate change of the output).
void ExpectGolden(const std::string& actual, const std::string& relativePath);

}  // namespace vqtest

// The process ends with status 255 (-1) and standard error is exactly
// `message`.
#define EXPECT_FATAL(statement, message) \
  EXPECT_EXIT(statement, ::testing::ExitedWithCode(255), ::vqtest::ExactRegex(message))

// As EXPECT_FATAL for a message printed to standard output.
#define EXPECT_STDOUT_FATAL(statement, message) \
  EXPECT_FATAL(                                 \
      {                                         \
        ::vqtest::RouteStdoutToStderr();        \
        statement;                              \
      },                                        \
      message)

#endif  // VQPEEK_TESTS_SUPPORT_TEST_SUPPORT_H_
