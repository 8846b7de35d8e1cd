#include "test_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vqtest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vqpeek-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot make a temporary directory";
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ExactRegex(const std::string& text) {
  std::string regex = "^";
  for (const char c : text) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) regex += '\\';
    regex += c;
  }
  return regex + "$";
}

void RouteStdoutToStderr() {
  std::fflush(stdout);
  dup2(2, 1);
}

std::string CaptureOutput(const std::function<void(FILE*)>& print) {
  FILE* stream = std::tmpfile();
  if (stream == nullptr) {
    ADD_FAILURE() << "cannot make a temporary file";
    return "";
  }
  print(stream);
  std::fflush(stream);
  std::string text;
  std::rewind(stream);
  char block[4096];
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, stream)) > 0) text.append(block, got);
  std::fclose(stream);
  return text;
}

std::vector<std::string> DirectoryNames(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void LimitFileSize(std::uint64_t bytes) {
  std::signal(SIGXFSZ, SIG_IGN);
  const struct rlimit limit = {bytes, bytes};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) std::abort();
}

namespace {

// The built vqpeek, or the command that VQPEEK_UNDER_TEST names (words
// separated by blanks): a vqpeek built for another processor, say, with
// the emulator that runs it.
std::vector<std::string> ProgramUnderTest() {
  const char* command = std::getenv("VQPEEK_UNDER_TEST");
  if (command == nullptr || command[0] == '\0') return {VQPEEK_BINARY};
  std::vector<std::string> words;
  std::istringstream stream(command);
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

}  // namespace

namespace {

// Runs `argv` with standard output and error captured, standard input
// empty, in `workdir` and under the address-space limit.
RunResult RunCaptured(std::vector<std::string> argvStrings, const std::string& workdir,
                      std::uint64_t addressSpaceLimit, const char* environment = nullptr) {
  TempDir capture;
  const std::string outPath = capture.Path("stdout");
  const std::string errPath = capture.Path("stderr");
  std::vector<char*> argv;
  for (std::string& arg : argvStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);

  RunResult result;
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
      _exit(127);
    }
    if (!workdir.empty() && chdir(workdir.c_str()) != 0) _exit(127);
    if (addressSpaceLimit != 0) {
      const struct rlimit limit = {addressSpaceLimit, addressSpaceLimit};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
    }
    if (environment != nullptr && putenv(const_cast<char*>(environment)) != 0) _exit(127);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) {
    ADD_FAILURE() << "cannot run " << argvStrings[0];
    return result;
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadFileBytes(outPath);
  result.err = ReadFileBytes(errPath);
  return result;
}

}  // namespace

RunResult RunVqpeek(const std::vector<std::string>& args, const std::string& workdir,
                    std::uint64_t addressSpaceLimit) {
  std::vector<std::string> argv = ProgramUnderTest();
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCaptured(argv, workdir, addressSpaceLimit);
}

RunResult RunVqtrain(const std::vector<std::string>& args, const std::string& workdir) {
  std::vector<std::string> argv = {VQTRAIN_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCaptured(argv, workdir, 0);
}

RunResult RunCommand(const std::vector<std::string>& command, const std::string& workdir,
                     std::uint64_t addressSpaceLimit) {
  return RunCaptured(command, workdir, addressSpaceLimit);
}

RunResult RunVqpeekScript(const std::string& script, const std::string& workdir) {
  std::string program;
  for (const std::string& word : ProgramUnderTest()) program += (program.empty() ? "" : " ") + word;
  // The child's environment; it lives until the child has its own copy.
  std::string variable = "VQPEEK=" + program;
  return RunCaptured({"bash", "-c", script}, workdir, 0, variable.c_str());
}

std::string CompressWith(const std::string& tool, const std::string& bytes) {
  TempDir dir;
  WriteFileBytes(dir.Path("in"), bytes);
  // gzip -n leaves out the name and the time, so the bytes are the same on
  // every run.
  const std::string command = tool + (tool == "gzip" ? " -n" : " -q") + " -c < '" + dir.Path("in") +
                              "' > '" + dir.Path("out") + "'";
  if (std::system(command.c_str()) != 0) ADD_FAILURE() << "cannot run " << command;
  return ReadFileBytes(dir.Path("out"));
}

void ExpectGolden(const std::string& actual, const std::string& relativePath) {
  const std::string path = std::string(VQPEEK_SOURCE_DIR) + "/tests/" + relativePath;
  const char* update = std::getenv("VQPEEK_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    WriteFileBytes(path, actual);
    return;
  }
  if (!std::filesystem::exists(path)) {
    ADD_FAILURE() << "missing golden file " << path
                  << " (run with VQPEEK_UPDATE_GOLDEN=1 to create it)";
    return;
  }
  EXPECT_EQ(actual, ReadFileBytes(path)) << "golden file " << relativePath;
}

}  // namespace vqtest
