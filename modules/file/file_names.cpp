// File-name completion, comparison and cutting.
#include <cctype>
#include <cstring>

#include "vqpeek/file.h"

void CheckFileName(char* name, const char* extension, std::size_t capacity) {
  const std::size_t length = std::strlen(name);
  for (std::size_t i = length; i > 0; --i) {
    const char c = name[i - 1];
    if (c == '.') return;
    if (c == '/' || c == '\\') break;
  }
  const std::size_t extensionLength = std::strlen(extension);
  if (length + 1 + extensionLength + 1 > capacity) return;
  name[length] = '.';
  std::memcpy(name + length + 1, extension, extensionLength + 1);
}

int CheckExtention(const char* name, const char* extension) {
  const char* dot = std::strchr(name, '.');
  if (dot == nullptr) return 0;
  return std::strcmp(dot + 1, extension) == 0 ? 1 : 0;
}

int EqualFileNames(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const int x = std::toupper(static_cast<unsigned char>(*a));
    const int y = std::toupper(static_cast<unsigned char>(*b));
    if (x != y) return 0;
    if (x == 0) return 1;
  }
}

void PickFileName(const char* source, char* destination, std::size_t capacity) {
  if (capacity == 0) return;
  std::size_t i = 0;
  for (; i + 1 < capacity && source[i] != '\0' && source[i] != '.'; ++i) {
    destination[i] = source[i];
  }
  destination[i] = '\0';
}
