// What the sources of the file module share and callers do not see.
#ifndef VQPEEK_MODULES_FILE_FILE_INTERNAL_H_
#define VQPEEK_MODULES_FILE_FILE_INTERNAL_H_

namespace file_internal {

enum class TargetState { kMissing, kRegular, kOther };

// What stands at `name`, told from the file system's metadata (links
// followed), never by opening it: opening a named pipe would block.
TargetState StateOf(const char* name);

}  // namespace file_internal

#endif  // VQPEEK_MODULES_FILE_FILE_INTERNAL_H_
