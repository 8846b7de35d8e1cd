// Writing a file whole: a regular file is replaced only once its successor
// is complete on disk, so a failed write (a full disk, a file-size limit)
// never loses the old file and never leaves half a new one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "file_internal.h"
#include "vqpeek/file.h"
#include "vqpeek/interfc.h"

namespace {

// The file a name finally stands for: symbolic links are followed (the
// link stays, the file it points to is replaced), also to a file that does
// not exist yet. A loop of links is left to the open to report.
std::string FollowLinks(std::string path) {
  constexpr int kMaxLinks = 40;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::vector<char> target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) return path;
    std::string next(target.data(), static_cast<std::size_t>(length));
    if (next.empty() || next[0] != '/') {
      const std::size_t slash = path.rfind('/');
      if (slash != std::string::npos) next = path.substr(0, slash + 1) + next;
    }
    path = std::move(next);
  }
  return path;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A new file beside `target`, made with O_EXCL so that nothing else is
// ever overwritten; its name starts with a dot, which hides it from
// listings while it exists. Returns the descriptor, or -1 with errno set.
int CreateTemporaryBeside(const std::string& target, mode_t mode, std::string* name) {
  static std::atomic<unsigned> counter{0};
  const std::string directory = DirectoryOf(target);
  const std::size_t slash = target.rfind('/');
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix =
        ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
    *name = directory + "/." + base + suffix;
    int fd = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno == ENAMETOOLONG) {
      // A base name near the system's limit leaves no room for the suffix.
      *name = directory + "/.vqpeek" + suffix;
      fd = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    }
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The replacement takes over the old file's permission bits (the umask
// may have cut them) and, where the process may, its owner and group.
void KeepOwnerAndMode(int fd, const struct stat& old) {
  if (fchown(fd, old.st_uid, old.st_gid) != 0) {
    // Not permitted: the file belongs to the writer, as any file it makes.
  }
  if (fchmod(fd, old.st_mode & 07777) != 0) {
    // The mode open() gave, old bits less the umask, stays.
  }
}

}  // namespace

namespace file_internal {

TargetState StateOf(const char* name) {
  struct stat info {};
  if (stat(name, &info) != 0) return TargetState::kMissing;
  return S_ISREG(info.st_mode) ? TargetState::kRegular : TargetState::kOther;
}

}  // namespace file_internal

FileReplacement::FileReplacement(const char* name, int overwrite) : name_(name) {
  using file_internal::TargetState;
  const TargetState state = file_internal::StateOf(name);
  if (state != TargetState::kMissing && overwrite != 1) {
    SystemErrorMessage(EEXIST, "ERROR: File already exists: %s", name);
    return;
  }
  if (state == TargetState::kOther) {
    // A device, a pipe or a terminal is written as it is: replacing it would
    // put a plain file in its place.
    stream_ = std::fopen(name, "wb");
    if (stream_ == nullptr) FailToOpen(errno);
    return;
  }

  target_ = FollowLinks(name);
  struct stat old {};
  const bool replacing = stat(target_.c_str(), &old) == 0;
  // A new file gets the permissions the process's umask gives any new file;
  // a replaced one keeps its own.
  const int fd =
      CreateTemporaryBeside(target_, replacing ? (old.st_mode & 0777) : 0666, &temporary_);
  if (fd < 0) FailToOpen(errno);
  if (replacing) KeepOwnerAndMode(fd, old);
  stream_ = fdopen(fd, "wb");
  if (stream_ == nullptr) {
    const int error = errno;
    close(fd);
    Fail(error);
  }
}

FileReplacement::~FileReplacement() { Abandon(); }

void FileReplacement::Write(const void* data, std::size_t size) {
  if (size > 0 && std::fwrite(data, 1, size, stream_) != size) Fail(errno);
}

void FileReplacement::Commit() {
  if (std::fflush(stream_) != 0) Fail(errno);
  const int fd = fileno(stream_);
  if (!temporary_.empty() && fsync(fd) != 0) Fail(errno);
  FILE* stream = stream_;
  stream_ = nullptr;
  if (std::fclose(stream) != 0) Fail(errno);
  if (temporary_.empty()) return;
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) Fail(errno);
  temporary_.clear();
  // The new name itself reaches the disk with its directory. Not every
  // system can sync a directory; the file's contents are safe either way.
  const int directory = open(DirectoryOf(target_).c_str(), O_RDONLY | O_CLOEXEC);
  if (directory >= 0) {
    fsync(directory);
    close(directory);
  }
}

void FileReplacement::Abandon() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    temporary_.clear();
  }
}

void FileReplacement::Fail(int error) {
  Abandon();
  SystemErrorMessage(error, "ERROR: unable to write to file. %s: %s\n", name_.c_str(),
                     std::strerror(error));
  ExitProcessing(-1);
}

void FileReplacement::FailToOpen(int error) {
  Abandon();
  SystemErrorMessage(error, "ERROR: Couldn't open the file: %s: %s\n", name_.c_str(),
                     std::strerror(error));
  ExitProcessing(-1);
}
