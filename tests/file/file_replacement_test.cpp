#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "vqpeek/file.h"
#include "vqpeek/threads.h"

namespace {

using vqtest::DirectoryNames;
using vqtest::ReadFileBytes;
using vqtest::TempDir;
using vqtest::WriteFileBytes;

void WriteWhole(const std::string& path, const std::string& bytes, int overwrite = 1) {
  FileReplacement file(path.c_str(), overwrite);
  if (file.stream() == nullptr) return;
  file.Write(bytes.data(), bytes.size());
  file.Commit();
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

TEST(FileReplacement, ReplacesTheFileALinkPointsToKeepingLinkAndMode) {
  TempDir dir;
  const std::string data = dir.Path("data");
  WriteFileBytes(data, "old");
  ASSERT_EQ(chmod(data.c_str(), 0640), 0);
  ASSERT_EQ(symlink("data", dir.Path("link").c_str()), 0);
  WriteWhole(dir.Path("link"), "new");
  struct stat link {};
  ASSERT_EQ(lstat(dir.Path("link").c_str(), &link), 0);
  EXPECT_TRUE(S_ISLNK(link.st_mode));
  EXPECT_EQ(ReadFileBytes(data), "new");
  EXPECT_EQ(ModeOf(data), 0640u);

  // Without the overwrite flag an existing file is reported and kept.
  ::testing::internal::CaptureStderr();
  WriteWhole(data, "newer", 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: File already exists: " + data);
  EXPECT_EQ(ReadFileBytes(data), "new");
  WriteWhole(dir.Path("fresh"), "x", 0);
  EXPECT_EQ(ReadFileBytes(dir.Path("fresh")), "x");
  EXPECT_EQ(DirectoryNames(dir.path()), (std::vector<std::string>{"data", "fresh", "link"}));
}

TEST(FileReplacement, WritesANamedPipeInPlace) {
  TempDir dir;
  const std::string pipe = dir.Path("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const std::string payload(200000, 'p');
  std::string received;
  RunInParallel(2, 2, [&](int part, int) {
    if (part == 0) {
      WriteWhole(pipe, payload);
    } else {
      received = ReadFileBytes(pipe);
    }
  });
  EXPECT_EQ(received, payload);
  struct stat info {};
  ASSERT_EQ(lstat(pipe.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST(FileReplacementDeathTest, AFailureKeepsTheOldFileAndLeavesNothingBehind) {
  TempDir dir;
  const std::string data = dir.Path("data");
  WriteFileBytes(data, "old");
  EXPECT_FATAL(
      {
        vqtest::LimitFileSize(4096);
        WriteWhole(data, std::string(100000, 'n'));
      },
      "ERROR: unable to write to file. " + data + ": File too large\n");
  EXPECT_EQ(ReadFileBytes(data), "old");

  const std::string missing = dir.Path("no/such/data");
  EXPECT_FATAL(WriteWhole(missing, "new"),
               "ERROR: Couldn't open the file: " + missing + ": No such file or directory\n");

  // A read-only directory; a privileged process gives up its rights first,
  // since they would let it write there anyway.
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.Path("ro").c_str(), 0755), 0);
  const std::string locked = dir.Path("ro/data");
  WriteFileBytes(locked, "old");
  ASSERT_EQ(chmod(dir.Path("ro").c_str(), 0555), 0);
  EXPECT_FATAL(
      {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::abort();
        WriteWhole(locked, "new");
      },
      "ERROR: Couldn't open the file: " + locked + ": Permission denied\n");
  EXPECT_EQ(ReadFileBytes(locked), "old");
  EXPECT_EQ(DirectoryNames(dir.Path("ro")), std::vector<std::string>{"data"});
  ASSERT_EQ(chmod(dir.Path("ro").c_str(), 0755), 0);
  EXPECT_EQ(DirectoryNames(dir.path()), (std::vector<std::string>{"data", "ro"}));
}

}  // namespace
