#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "test_support.h"
#include "vqpeek/file.h"
#include "vqpeek/interfc.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;
using vqtest::ReadFileBytes;
using vqtest::TempDir;
using vqtest::WriteFileBytes;

TEST(ExistFile, TellsWhetherTheFileCanBeRead) {
  TempDir dir;
  EXPECT_EQ(ExistFile(dir.Path("missing").c_str()), 0);
  WriteFileBytes(dir.Path("there"), "x");
  EXPECT_EQ(ExistFile(dir.Path("there").c_str()), 1);
}

TEST(FileOpen, ReadsAnExistingFileAndReportsAMissingOne) {
  TempDir dir;
  WriteFileBytes(dir.Path("in"), "abc");
  FILE* stream = FileOpen(dir.Path("in").c_str(), 1, 0);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(std::getc(stream), 'a');
  std::fclose(stream);

  const std::string missing = dir.Path("missing");
  CaptureStderr();
  EXPECT_EQ(FileOpen(missing.c_str(), 1, 0), nullptr);
  EXPECT_EQ(GetCapturedStderr(), "ERROR: Cannot find the file: " + missing);
}

TEST(FileOpen, WritingKeepsAnExistingFileUnlessOverwriteIsExactlyOne) {
  TempDir dir;
  const std::string path = dir.Path("out");
  WriteFileBytes(path, "old");
  for (const int overwrite : {0, 2, -1}) {
    CaptureStderr();
    EXPECT_EQ(FileOpen(path.c_str(), 0, overwrite), nullptr);
    EXPECT_EQ(GetCapturedStderr(), "ERROR: File already exists: " + path);
    EXPECT_EQ(ReadFileBytes(path), "old");
  }
  FILE* stream = FileOpen(path.c_str(), 0, 1);
  ASSERT_NE(stream, nullptr);
  std::fclose(stream);
  EXPECT_EQ(ReadFileBytes(path), "");

  // A new file needs no overwrite permission, and the stream also reads.
  const std::string fresh = dir.Path("fresh");
  stream = FileOpen(fresh.c_str(), 0, 0);
  ASSERT_NE(stream, nullptr);
  std::fputs("hi", stream);
  std::rewind(stream);
  EXPECT_EQ(std::getc(stream), 'h');
  std::fclose(stream);
}

TEST(FileOpen, OverwritingNeverDeletesAPipeOrALink) {
  TempDir dir;
  const std::string pipe = dir.Path("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  WriteFileBytes(dir.Path("data"), "old");
  ASSERT_EQ(symlink("data", dir.Path("link").c_str()), 0);
  // Told to exist from its metadata: opening the pipe to test it would block.
  CaptureStderr();
  EXPECT_EQ(FileOpen(pipe.c_str(), 0, 0), nullptr);
  EXPECT_EQ(GetCapturedStderr(), "ERROR: File already exists: " + pipe);
  for (const std::string& name : {pipe, dir.Path("link")}) {
    FILE* stream = FileOpen(name.c_str(), 0, 1);
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);
  }
  struct stat info {};
  ASSERT_EQ(lstat(pipe.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  ASSERT_EQ(lstat(dir.Path("link").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(ReadFileBytes(dir.Path("data")), "");
}

TEST(FileOpen, ReportsFilesThatCannotBeCreatedAndInvalidModes) {
  TempDir dir;
  const std::string path = dir.Path("no/such/dir/out");
  CaptureStderr();
  EXPECT_EQ(FileOpen(path.c_str(), 0, 0), nullptr);
  EXPECT_EQ(GetCapturedStderr(), "ERROR: Couldn't open the file: " + path);
  CaptureStderr();
  EXPECT_EQ(FileOpen(path.c_str(), 7, 0), nullptr);
  EXPECT_EQ(GetCapturedStderr(), "ERROR: Invalid file mode:7");
}

int lastErrorNumber = 0;
void KeepErrorNumber(int, const char*) { lastErrorNumber = MessageSystemError(); }

TEST(FileOpen, ItsMessagesCarryTheSystemsErrorNumber) {
  TempDir dir;
  WriteFileBytes(dir.Path("there"), "x");
  SetMessageHandler(KeepErrorNumber);
  EXPECT_EQ(FileOpen(dir.Path("missing").c_str(), 1, 0), nullptr);
  const int missing = lastErrorNumber;
  EXPECT_EQ(FileOpen(dir.Path("there").c_str(), 0, 0), nullptr);
  const int existing = lastErrorNumber;
  EXPECT_EQ(FileOpen(dir.Path("no/such").c_str(), 0, 1), nullptr);
  const int uncreatable = lastErrorNumber;
  SetMessageHandler(nullptr);
  EXPECT_EQ(missing, ENOENT);
  EXPECT_EQ(existing, EEXIST);
  EXPECT_EQ(uncreatable, ENOENT);
}

TEST(OpenFileDeathTest, EndsTheProcessWhereFileOpenGivesNoStream) {
  EXPECT_FATAL(OpenFile("/nonexistent/vqpeek/file", 1, 0),
               "ERROR: Cannot find the file: /nonexistent/vqpeek/file");
}

}  // namespace
