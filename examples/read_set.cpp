// Reads training sets or codebooks and prints their sizes: a program that
// uses the library. A file that cannot be read throws instead of ending the
// process, so the program goes on with the next one.
#include <cstdio>
#include <stdexcept>

#include "vqpeek/cb.h"

int main(int argc, char** argv) {
  SetExitHandler([](int) { throw std::runtime_error("not read"); });
  for (int i = 1; i < argc; ++i) {
    try {
      Codebook set;
      ReadCodebook(argv[i], &set);
      std::printf("%s: %d vectors of %d elements\n", argv[i], set.Booksize, VectorDimension(set));
    } catch (const std::runtime_error& error) {
      std::printf("%s: %s\n", argv[i], error.what());  // after the library's message
    }
  }
  return 0;
}
