// Opening files under the rules for existing files.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "file_internal.h"
#include "vqpeek/file.h"
#include "vqpeek/interfc.h"

int ExistFile(const char* name) {
  FILE* stream = std::fopen(name, "rb");
  if (stream == nullptr) return 0;
  std::fclose(stream);
  return 1;
}

FILE* FileOpen(const char* name, int mode, int overwrite) {
  if (mode == 1) {
    FILE* stream = std::fopen(name, "rb");
    if (stream == nullptr) SystemErrorMessage(errno, "ERROR: Cannot find the file: %s", name);
    return stream;
  }
  if (mode != 0) {
    ErrorMessage("ERROR: Invalid file mode:%d", mode);
    return nullptr;
  }
  const file_internal::TargetState state = file_internal::StateOf(name);
  if (state == file_internal::TargetState::kUnknown) {
    // Not known to be absent (a loop of links, say): never taken for a new
    // file, which could truncate one that exists.
    ErrorMessage("ERROR: Couldn't open the file: %s", name);
    return nullptr;
  }
  if (state != file_internal::TargetState::kMissing) {
    if (overwrite != 1) {
      SystemErrorMessage(EEXIST, "ERROR: File already exists: %s", name);
      return nullptr;
    }
    // Only a plain file is deleted; a device, a pipe or a symbolic link is
    // opened as it stands, so that it is never turned into a plain file.
    struct stat info {};
    if (lstat(name, &info) == 0 && S_ISREG(info.st_mode)) std::remove(name);
  }
  FILE* stream = std::fopen(name, "wb+");
  if (stream == nullptr) SystemErrorMessage(errno, "ERROR: Couldn't open the file: %s", name);
  return stream;
}

FILE* OpenFile(const char* name, int mode, int overwrite) {
  FILE* stream = FileOpen(name, mode, overwrite);
  if (stream == nullptr) ExitProcessing(-1);
  return stream;
}
