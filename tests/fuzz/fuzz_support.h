// What the fuzz targets share: the library's fatal exits turned into a
// return to the target, scratch files for the readers that take a name, and
// a simple splitter of one input into several parts.
#ifndef VQPEEK_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define VQPEEK_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace vqfuzz {

// Thrown by the exit handler: the library ended the run the way it ends
// every fatal error, which for a hostile input is the expected outcome.
struct ExpectedExit {
  int status;
};

// Installs the exit handler, sends standard output to /dev/null and makes a
// scratch directory. Safe to call every time.
void Setup();

// The scratch directory (absolute).
const std::string& ScratchDirectory();

// Writes `size` bytes into the scratch file `name` and returns its path.
std::string WriteScratch(const std::string& name, const std::uint8_t* data, std::size_t size);
std::string WriteScratch(const std::string& name, const std::string& bytes);

// Whether `bytes`, read as a partitioning file, claims more than `limit`
// partitions (the number after the first line, as "%i" reads it). Such
// counts are valid and cost memory and time in proportion, beyond what a
// fuzzer's budget gives one input, so the targets pass over them; the
// refusal of counts that no machine can hold has tests of its own.
bool ClaimsManyPartitions(const std::string& bytes, long limit = 1 << 16);

// Runs `body`; an exit through the library's fatal convention returns here.
template <typename Body>
void RunGuarded(Body&& body) {
  try {
    body();
  } catch (const ExpectedExit&) {
  }
}

// Hands out an input piece by piece; everything past the end reads as 0 or
// empty, so any input is a valid sequence of parts.
class Splitter {
 public:
  Splitter(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return offset_ < size_ ? data_[offset_++] : 0; }
  // A part of up to `limit` bytes, its length taken from the input.
  std::string Part(std::size_t limit);
  // Everything not yet handed out.
  std::string Rest();

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

}  // namespace vqfuzz

// The target every fuzz program defines.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

#endif  // VQPEEK_TESTS_FUZZ_FUZZ_SUPPORT_H_
