// What the sources of the file module share and callers do not see.
#ifndef VQPEEK_MODULES_FILE_FILE_INTERNAL_H_
#define VQPEEK_MODULES_FILE_FILE_INTERNAL_H_

#include <sys/types.h>

#include <string>

namespace file_internal {

// kUnknown: the metadata could not be read for another reason than a
// missing file (a loop of symbolic links, a directory that may not be
// searched); errno then holds the reason.
enum class TargetState { kMissing, kRegular, kOther, kUnknown };

// What stands at `name`, told from the file system's metadata (links
// followed), never by opening it: opening a named pipe would block. Only a
// name the system reports as absent (ENOENT) counts as missing.
TargetState StateOf(const char* name);

// The calls of the file replacement that tests must be able to make fail
// or collide, which the real system does only rarely. Each starts as the
// system's own behaviour.
struct ReplacementSeams {
  // Gives the new file the old file's owner and group (fchown).
  int (*changeOwner)(int fd, uid_t owner, gid_t group);
  // What follows the target's name in a temporary name; distinct on each
  // call.
  std::string (*temporarySuffix)();
  // Whether an unnamed file may be tried where the system offers one.
  bool unnamedFiles;
};
extern ReplacementSeams replacementSeams;

}  // namespace file_internal

#endif  // VQPEEK_MODULES_FILE_FILE_INTERNAL_H_
