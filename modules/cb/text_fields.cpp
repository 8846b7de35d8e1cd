// Version strings and the small text operations of the fixed text fields.
#include <cstdio>
#include <cstring>
#include <string>

#include "cb_internal.h"
#include "vqpeek/cb.h"

namespace {

constexpr const char* kVersionNumber = "2.0";
constexpr const char* kTrainingSetName = "VQ TRAINING SET";
constexpr const char* kCodebookName = "VQ CODEBOOK";
constexpr const char* kPartitioningName = "VQ PARTITIONING";

bool HasPrefix(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

void SetVerString(char* text, int kind) {
  const char* name = nullptr;
  switch (kind) {
    case kTrainingSetFile:
      name = kTrainingSetName;
      break;
    case kCodebookFile:
      name = kCodebookName;
      break;
    case kPartitioningFile:
      name = kPartitioningName;
      break;
    default:
      FatalError("ERROR: Unknown file type (SetVersionString)\n");
  }
  std::snprintf(text, kTextFieldSize, "%s %s", name, kVersionNumber);
}

int RecognizeVersionstr(const char* text) {
  // The codebook prefix is tested first, as files have always been told
  // apart in this order.
  if (HasPrefix(text, kCodebookName)) return kCodebookFile;
  if (HasPrefix(text, kTrainingSetName)) return kTrainingSetFile;
  if (HasPrefix(text, kPartitioningName)) return kPartitioningFile;
  return kNotRecognized;
}

void ClearString(char* text) { text[0] = '\0'; }

void AddString(char* text, const char* addition, int limit) {
  if (static_cast<long long>(std::strlen(addition)) > limit) {
    FatalError("ERROR: string too long:\n%*s\n", limit, addition);
  }
  if (limit <= 0) return;
  // The joined text keeps limit - 1 characters at most, so that its
  // terminator always lies within the `limit` bytes of the caller's buffer.
  std::string joined = std::string(text) + addition;
  if (joined.size() > static_cast<std::size_t>(limit - 1)) joined.resize(limit - 1);
  std::memcpy(text, joined.c_str(), joined.size() + 1);
}
