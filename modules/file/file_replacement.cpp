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
// not exist yet. A chain too long to follow, or a link that cannot be read,
// comes back as a link, which the caller refuses.
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

std::string SystemTemporarySuffix() {
  static std::atomic<unsigned> counter{0};
  return ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
}

// Gives a new name beside `target` with `make(candidate)`, which creates
// the candidate and returns 0, or -1 with errno set (EEXIST where the name
// is taken, when another name is tried). `*name` is set only once `make`
// has succeeded, so that a failure never leaves a name this writer did not
// create for the cleanup to delete. Returns 0 or -1 with errno set.
template <typename Make>
int NameBeside(const std::string& target, std::string* name, const Make& make) {
  const std::string directory = DirectoryOf(target);
  const std::size_t slash = target.rfind('/');
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix = file_internal::replacementSeams.temporarySuffix();
    std::string candidate = directory + "/." + base + suffix;
    int result = make(candidate);
    if (result != 0 && errno == ENAMETOOLONG) {
      // A base name near the system's limit leaves no room for the suffix.
      candidate = directory + "/.vqpeek" + suffix;
      result = make(candidate);
    }
    if (result == 0) {
      *name = std::move(candidate);
      return 0;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// A new file without a name in `directory`, where the system offers it and
// the file can later be named through /proc; else -1.
int CreateUnnamed(const std::string& directory, mode_t mode) {
#if defined(O_TMPFILE)
  if (!file_internal::replacementSeams.unnamedFiles) return -1;
  const int fd = open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat info {};
  if (stat(("/proc/self/fd/" + std::to_string(fd)).c_str(), &info) == 0) return fd;
  close(fd);
#else
  static_cast<void>(directory);
  static_cast<void>(mode);
#endif
  return -1;
}

// The replacement takes over the old file's permission bits (the umask
// may have cut them) and, where the process may, its owner and group.
void KeepOwnerAndMode(int fd, const struct stat& old) {
  mode_t mode = old.st_mode & 07777;
  if (file_internal::replacementSeams.changeOwner(fd, old.st_uid, old.st_gid) != 0) {
    // Not permitted: the file belongs to the writer, as any file it makes,
    // and setuid or setgid would now grant the writer's rights.
    mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
  }
  if (fchmod(fd, mode) != 0) {
    // The mode open() gave, old bits less the umask, stays.
  }
}

}  // namespace

namespace file_internal {

ReplacementSeams replacementSeams = {fchown, SystemTemporarySuffix, true};

TargetState StateOf(const char* name) {
  struct stat info {};
  if (stat(name, &info) != 0)
    return errno == ENOENT ? TargetState::kMissing : TargetState::kUnknown;
  return S_ISREG(info.st_mode) ? TargetState::kRegular : TargetState::kOther;
}

}  // namespace file_internal

FileReplacement::FileReplacement(const char* name, int overwrite) : name_(name) {
  using file_internal::TargetState;
  const TargetState state = file_internal::StateOf(name);
  if (state == TargetState::kUnknown) FailToOpen(errno);
  if (state != TargetState::kMissing && overwrite != 1) {
    SystemErrorMessage(EEXIST, "ERROR: File already exists: %s", name);
    return;
  }
  if (state == TargetState::kOther) {
    // A device, a pipe or a terminal is written as it is: replacing it would
    // put a plain file in its place.
    stream_ = std::fopen(name, "wb");
    if (stream_ == nullptr) FailToOpen(errno);
    inPlace_ = true;
    return;
  }

  target_ = FollowLinks(name);
  struct stat old {};
  const bool replacing = lstat(target_.c_str(), &old) == 0;
  if (!replacing && errno != ENOENT) FailToOpen(errno);
  if (replacing && S_ISLNK(old.st_mode)) FailToOpen(ELOOP);
  if (replacing && old.st_nlink > 1) {
    // EMLINK ("too many links") is the system's nearest word for it, so that
    // a host that sorts failures by error number sees a file failure.
    FailToOpen(EMLINK,
               "The file has other hard links, which replacing it would leave with the old "
               "contents");
  }
  // A new file gets the permissions the process's umask gives any new file;
  // a replaced one keeps its own.
  const mode_t mode = replacing ? (old.st_mode & 0777) : 0666;
  int fd = CreateUnnamed(DirectoryOf(target_), mode);
  unnamed_ = fd >= 0;
  if (!unnamed_ && NameBeside(target_, &temporary_, [&](const std::string& candidate) {
                     fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
                     return fd >= 0 ? 0 : -1;
                   }) != 0) {
    FailToOpen(errno);
  }
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
  if (stream_ != nullptr && size > 0 && std::fwrite(data, 1, size, stream_) != size) Fail(errno);
}

void FileReplacement::Commit() {
  if (stream_ == nullptr) return;
  if (std::fflush(stream_) != 0) Fail(errno);
  const int fd = fileno(stream_);
  if (!inPlace_ && fsync(fd) != 0) Fail(errno);
  if (unnamed_) {
    // The complete file gets a name of its own first: a link cannot take
    // the place of an existing name, a rename can.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (NameBeside(target_, &temporary_, [&](const std::string& candidate) {
          return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW);
        }) != 0) {
      Fail(errno);
    }
    unnamed_ = false;
  }
  FILE* stream = stream_;
  stream_ = nullptr;
  if (std::fclose(stream) != 0) Fail(errno);
  if (inPlace_) return;
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

void FileReplacement::FailToOpen(int error) { FailToOpen(error, std::strerror(error)); }

void FileReplacement::FailToOpen(int error, const char* reason) {
  Abandon();
  SystemErrorMessage(error, "ERROR: Couldn't open the file: %s: %s\n", name_.c_str(), reason);
  ExitProcessing(-1);
}
