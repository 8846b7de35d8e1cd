// InputFile and PeekInput: plain, gzip and zstd content read alike, from
// regular files and pipes; damaged compressed streams never read as
// content.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"
#include "vqpeek/file.h"
#include "vqpeek/interfc.h"

namespace {

using vqtest::CompressWith;
using vqtest::TempDir;
using vqtest::WriteFileBytes;

// Text that compresses, with a stretch of random bytes, longer than one
// block of the raw reader (128 KB). The seed is printed on a failure.
std::string Content(unsigned seed) {
  std::mt19937 random(seed);
  std::string text;
  for (int line = 0; text.size() < 300000; ++line) {
    text += "line " + std::to_string(line) + " of the content\n";
    if (line % 500 == 0) {
      for (int k = 0; k < 200; ++k) text += static_cast<char>(random() & 0xFF);
    }
  }
  return text;
}

// Reads the whole input in pieces of odd sizes.
std::string ReadAll(InputFile& input) {
  std::string text;
  std::vector<char> piece(7919);
  for (std::size_t got; (got = input.Read(piece.data(), piece.size())) > 0;)
    text.append(piece.data(), got);
  return text;
}

bool Reads(Compression compression) { return ReadsCompression(compression); }

TEST(InputFile, ReadsPlainGzipAndZstdContentAlikeAndGoesBack) {
  TempDir dir;
  const unsigned seed = 23;
  const std::string content = Content(seed);
  const std::string half = content.substr(0, content.size() / 2);
  const std::string rest = content.substr(content.size() / 2);
  struct Case {
    const char* name;
    std::string bytes;
    Compression compression;
  };
  std::vector<Case> cases = {{"plain", content, Compression::kNone}};
  if (Reads(Compression::kGzip)) {
    cases.push_back({"one.gz", CompressWith("gzip", content), Compression::kGzip});
    // Members one after the other make one content.
    cases.push_back(
        {"two.gz", CompressWith("gzip", half) + CompressWith("gzip", rest), Compression::kGzip});
  }
  if (Reads(Compression::kZstd)) {
    cases.push_back({"one.zst", CompressWith("zstd", content), Compression::kZstd});
    cases.push_back(
        {"two.zst", CompressWith("zstd", half) + CompressWith("zstd", rest), Compression::kZstd});
  }
  for (const Case& c : cases) {
    const std::string path = dir.Path(c.name);
    WriteFileBytes(path, c.bytes);
    const std::unique_ptr<InputFile> input = InputFile::Open(path.c_str());
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->compression(), c.compression) << c.name;
    EXPECT_TRUE(input->Rewindable());
    EXPECT_EQ(input->Remaining(), static_cast<std::int64_t>(content.size())) << c.name;
    EXPECT_TRUE(ReadAll(*input) == content) << c.name << ", seed " << seed;
    EXPECT_EQ(input->Remaining(), 0);
    // Back to any position, then on to the end.
    ASSERT_TRUE(input->Seek(12345));
    EXPECT_EQ(input->Position(), 12345u);
    EXPECT_TRUE(ReadAll(*input) == content.substr(12345)) << c.name;
    // A file that changed is not read again.
    WriteFileBytes(path, c.bytes + "more");
    EXPECT_FALSE(input->Seek(0)) << c.name;
  }
}

TEST(InputFile, AMissingFileIsReportedAsFileOpenReportsIt) {
  TempDir dir;
  const std::string missing = dir.Path("missing");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(InputFile::Open(missing.c_str()), nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: Cannot find the file: " + missing);
  std::string bytes;
  EXPECT_FALSE(PeekInput(missing.c_str(), 10, &bytes));
  EXPECT_FALSE(PeekInput(dir.path().c_str(), 10, &bytes));  // a directory
}

std::string messages;
void CollectMessage(int, const char* text) { messages += text; }
[[noreturn]] void ThrowStatus(int status) { throw status; }

// The content that `path` holds once it holds `bytes`, or "exit" and the
// messages when reading it ends the run.
std::string Outcome(const std::string& path, const std::string& bytes) {
  // A new file each time: writing over a file makes some file systems
  // flush it to disk.
  std::remove(path.c_str());
  WriteFileBytes(path, bytes);
  messages.clear();
  SetExitHandler(ThrowStatus);
  SetMessageHandler(CollectMessage);
  std::string text;
  try {
    const std::unique_ptr<InputFile> input = InputFile::Open(path.c_str());
    text = ReadAll(*input);
  } catch (int status) {
    text = "exit " + std::to_string(status) + ": " + messages;
  }
  SetMessageHandler(nullptr);
  SetExitHandler(nullptr);
  return text;
}

TEST(InputFile, ADamagedStreamIsNeverReadAsContent) {
  TempDir dir;
  const std::string content = vqtest::ReadFileBytes(VQPEEK_SOURCE_DIR "/examples/blocks.ts");
  const std::string path = dir.Path("damaged");
  const std::string damaged = "exit -1: ERROR: The compressed file " + path + " is damaged: ";
  for (const std::string tool : {"gzip", "zstd"}) {
    const Compression compression = tool == "gzip" ? Compression::kGzip : Compression::kZstd;
    if (!Reads(compression)) continue;
    const std::string good = CompressWith(tool, content);
    const std::size_t magic = tool == "gzip" ? 2 : 4;
    // Cut at every length that still shows the compression.
    for (std::size_t cut = magic; cut < good.size(); ++cut) {
      EXPECT_EQ(Outcome(path, good.substr(0, cut)).rfind(damaged, 0), 0u)
          << tool << " cut at " << cut;
    }
    // Any flipped bit after the magic number: the content or a fatal
    // message, never other bytes. (gzip's time and system bytes are
    // outside its checks, so some flips leave the content as it was.)
    for (std::size_t at = magic; at < good.size(); ++at) {
      for (int bit = 0; bit < 8; bit += 3) {
        std::string bytes = good;
        bytes[at] = static_cast<char>(bytes[at] ^ (1 << bit));
        const std::string outcome = Outcome(path, bytes);
        EXPECT_TRUE(outcome == content || outcome.rfind("exit -1: ERROR: ", 0) == 0)
            << tool << " byte " << at << " bit " << bit << ": " << outcome.substr(0, 200);
      }
    }
    // Bytes after the last member or frame.
    EXPECT_EQ(Outcome(path, good + "garbage").rfind(damaged, 0), 0u) << tool;
  }
}

// A pipe with `bytes` in it and its writing end closed; its reading end's
// name is /dev/fd/N.
class Pipe {
 public:
  explicit Pipe(const std::string& bytes) {
    if (pipe(fds_) != 0) ADD_FAILURE() << "no pipe";
    EXPECT_EQ(write(fds_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fds_[1]);
  }
  ~Pipe() { close(fds_[0]); }
  std::string Name() const { return "/dev/fd/" + std::to_string(fds_[0]); }

 private:
  int fds_[2] = {-1, -1};
};

TEST(PeekInput, APipeKeepsWhatWasReadForItsReader) {
  const std::string content = "VQ CODEBOOK 2.0\n" + std::string(5000, 'b');
  std::vector<std::string> kinds = {content};
  if (Reads(Compression::kGzip)) kinds.push_back(CompressWith("gzip", content));
  if (Reads(Compression::kZstd)) kinds.push_back(CompressWith("zstd", content));
  for (const std::string& bytes : kinds) {
    const Pipe pipe(bytes);
    const std::string name = pipe.Name();
    std::string first;
    ASSERT_TRUE(PeekInput(name.c_str(), 15, &first));
    EXPECT_EQ(first, "VQ CODEBOOK 2.0");
    // A second look sees the same bytes, and more where asked.
    ASSERT_TRUE(PeekInput(name.c_str(), 20, &first));
    EXPECT_EQ(first, content.substr(0, 20));
    const std::unique_ptr<InputFile> input = InputFile::Open(name.c_str());
    ASSERT_NE(input, nullptr);
    EXPECT_FALSE(input->Rewindable());
    EXPECT_EQ(input->KnownRemaining(), -1);
    EXPECT_TRUE(ReadAll(*input) == content);
    EXPECT_FALSE(input->Seek(0));
  }
  // A regular file is opened anew by its reader.
  TempDir dir;
  WriteFileBytes(dir.Path("plain"), content);
  std::string first;
  ASSERT_TRUE(PeekInput(dir.Path("plain").c_str(), 4, &first));
  EXPECT_EQ(first, "VQ C");
  const std::unique_ptr<InputFile> input = InputFile::Open(dir.Path("plain").c_str());
  EXPECT_TRUE(ReadAll(*input) == content);
}

}  // namespace
