#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "vqpeek/interfc.h"

namespace vqfuzz {

namespace {

[[noreturn]] void ThrowExpectedExit(int status) { throw ExpectedExit{status}; }

std::string scratch;

void RemoveScratch() {
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
}

}  // namespace

void Setup() {
  if (!scratch.empty()) return;
  SetExitHandler(ThrowExpectedExit);
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  // A run may name standard input ("-"): it reads nothing, never the
  // fuzzer's own input.
  if (std::freopen("/dev/null", "r", stdin) == nullptr) std::abort();
  const char* base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/vqpeek-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  scratch = pattern;
  std::atexit(RemoveScratch);
}

const std::string& ScratchDirectory() { return scratch; }

std::string WriteScratch(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string path = scratch + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

std::string WriteScratch(const std::string& name, const std::string& bytes) {
  return WriteScratch(name, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

bool ClaimsManyPartitions(const std::string& bytes, long limit) {
  const std::size_t lineEnd = bytes.find('\n');
  if (lineEnd == std::string::npos) return false;
  // A copy, so that strtol stops at the end of the input.
  const std::string rest = bytes.substr(lineEnd + 1);
  return std::strtol(rest.c_str(), nullptr, 0) > limit;
}

std::string Splitter::Part(std::size_t limit) {
  std::size_t length = Byte();
  length = (length << 8) | Byte();
  if (length > limit) length = length % (limit + 1);
  if (length > size_ - offset_) length = size_ - offset_;
  std::string part(reinterpret_cast<const char*>(data_ + offset_), length);
  offset_ += length;
  return part;
}

std::string Splitter::Rest() {
  std::string rest(reinterpret_cast<const char*>(data_ + offset_), size_ - offset_);
  offset_ = size_;
  return rest;
}

}  // namespace vqfuzz
