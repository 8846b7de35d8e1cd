#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "file_internal.h"
#include "test_support.h"
#include "vqpeek/file.h"
#include "vqpeek/threads.h"

namespace {

using vqtest::DirectoryNames;
using vqtest::ReadFileBytes;
using vqtest::TempDir;
using vqtest::WriteFileBytes;

// Where overwriting is refused the stream is null, and Write and Commit do
// nothing.
void WriteWhole(const std::string& path, const std::string& bytes, int overwrite = 1) {
  FileReplacement file(path.c_str(), overwrite);
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

TEST(FileReplacementDeathTest, ALoopOfLinksIsReportedAndNeverReplaced) {
  TempDir dir;
  const std::string a = dir.Path("a");
  ASSERT_EQ(symlink("b", a.c_str()), 0);
  ASSERT_EQ(symlink("a", dir.Path("b").c_str()), 0);
  for (const int overwrite : {0, 1}) {
    EXPECT_FATAL(WriteWhole(a, "new", overwrite),
                 "ERROR: Couldn't open the file: " + a + ": Too many levels of symbolic links\n");
  }
  struct stat info {};
  ASSERT_EQ(lstat(a.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(DirectoryNames(dir.path()), (std::vector<std::string>{"a", "b"}));
}

TEST(FileReplacementDeathTest, AFileWithOtherHardLinksIsRefused) {
  TempDir dir;
  const std::string data = dir.Path("data");
  WriteFileBytes(data, "old");
  ASSERT_EQ(link(data.c_str(), dir.Path("other").c_str()), 0);
  EXPECT_FATAL(WriteWhole(data, "new"), "ERROR: Couldn't open the file: " + data +
                                            ": The file has other hard links, which replacing it "
                                            "would leave with the old contents\n");
  EXPECT_EQ(ReadFileBytes(data), "old");
  EXPECT_EQ(DirectoryNames(dir.path()), (std::vector<std::string>{"data", "other"}));
}

TEST(FileReplacementDeathTest, ANameTakenByAnotherProgramIsNeverDeleted) {
  TempDir dir;
  const std::string data = dir.Path("data");
  WriteFileBytes(data, "old");
  WriteFileBytes(dir.Path(".data.taken"), "theirs");
  // Every temporary name is taken, with the file named while it is written
  // and with the file named only once it is complete.
  for (const bool unnamed : {false, true}) {
    EXPECT_EXIT(
        {
          file_internal::replacementSeams.temporarySuffix = [] { return std::string(".taken"); };
          file_internal::replacementSeams.unnamedFiles = unnamed;
          WriteWhole(data, "new");
        },
        ::testing::ExitedWithCode(255), ": File exists\n$");
  }
  EXPECT_EQ(ReadFileBytes(dir.Path(".data.taken")), "theirs");
  EXPECT_EQ(ReadFileBytes(data), "old");
  EXPECT_EQ(DirectoryNames(dir.path()), (std::vector<std::string>{".data.taken", "data"}));
}

TEST(FileReplacementDeathTest, AKilledWriterLeavesNothingBehind) {
  TempDir dir;
  const std::string data = dir.Path("data");
  WriteFileBytes(data, "old");
#if defined(O_TMPFILE)
  const int probe = open(dir.path().c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe < 0) GTEST_SKIP() << "no unnamed files here: " << std::strerror(errno);
  close(probe);
#else
  GTEST_SKIP() << "no unnamed files on this system";
#endif
  EXPECT_EXIT(
      {
        FileReplacement file(data.c_str(), 1);
        const std::string block(1 << 20, 'n');
        file.Write(block.data(), block.size());
        std::fflush(file.stream());
        std::raise(SIGKILL);
      },
      ::testing::KilledBySignal(SIGKILL), "");
  EXPECT_EQ(ReadFileBytes(data), "old");
  EXPECT_EQ(DirectoryNames(dir.path()), std::vector<std::string>{"data"});
}

TEST(FileReplacement, SetuidAndSetgidStayOnlyWithTheOwner) {
  TempDir dir;
  const std::string data = dir.Path("data");
  WriteFileBytes(data, "old");
  ASSERT_EQ(chmod(data.c_str(), 06755), 0);
  WriteWhole(data, "kept");
  EXPECT_EQ(ModeOf(data), 06755u);

  const file_internal::ReplacementSeams system = file_internal::replacementSeams;
  file_internal::replacementSeams.changeOwner = [](int, uid_t, gid_t) {
    errno = EPERM;
    return -1;
  };
  WriteWhole(data, "lost");
  file_internal::replacementSeams = system;
  EXPECT_EQ(ReadFileBytes(data), "lost");
  EXPECT_EQ(ModeOf(data), 0755u);
}

}  // namespace
