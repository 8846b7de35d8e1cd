// Console messages and the end of the process.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "interfc.h"

int ExitRequestHonoredStatus = 0;

namespace {

FILE* __ProgramInfoFlow = nullptr;
FILE* __ModuleInfoFlow = nullptr;
ExitHandler exitHandler = nullptr;

void SetUnsetFlows() {
  if (__ProgramInfoFlow == nullptr) __ProgramInfoFlow = stdout;
  if (__ModuleInfoFlow == nullptr) __ModuleInfoFlow = stdout;
}

// Formats into a stack buffer of `size` bytes, the size the messages have
// always had, and falls back to a heap buffer of the exact length when the
// text is longer: a message is never cut short and never overruns.
template <std::size_t size>
int WriteFormatted(FILE* stream, const char* format, std::va_list args) {
  char local[size];
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(local, size, format, args);
  int written;
  if (length < 0) {
    written = length;
  } else if (static_cast<std::size_t>(length) < size) {
    written = std::fprintf(stream, "%s", local);
  } else {
    std::vector<char> heap(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(heap.data(), heap.size(), format, again);
    written = std::fprintf(stream, "%s", heap.data());
  }
  va_end(again);
  return written;
}

constexpr std::size_t kInfoBufferSize = 256;
constexpr std::size_t kErrorBufferSize = 1024;

}  // namespace

int PrintMessage(const char* format, ...) {
  SetUnsetFlows();
  std::va_list args;
  va_start(args, format);
  const int written = WriteFormatted<kInfoBufferSize>(__ModuleInfoFlow, format, args);
  va_end(args);
  std::fflush(__ModuleInfoFlow);
  return written;
}

int PrintProgramMessage(const char* format, ...) {
  SetUnsetFlows();
  std::va_list args;
  va_start(args, format);
  const int written = WriteFormatted<kInfoBufferSize>(__ProgramInfoFlow, format, args);
  va_end(args);
  std::fflush(__ProgramInfoFlow);
  return written;
}

int ErrorMessage(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int written = WriteFormatted<kErrorBufferSize>(stderr, format, args);
  va_end(args);
  return written;
}

int OpenInfoFlow(int toStderr) {
  SetUnsetFlows();
  std::fflush(__ModuleInfoFlow);
  __ModuleInfoFlow = toStderr != 0 ? stderr : stdout;
  return 0;
}

int CloseInfoFlow() {
  if (__ModuleInfoFlow != nullptr) std::fflush(__ModuleInfoFlow);
  if (__ProgramInfoFlow != nullptr) std::fflush(__ProgramInfoFlow);
  return 0;
}

int ExitRequested() { return 0; }

void SetExitRequestHonored(int status) { ExitRequestHonoredStatus = status; }

int ExitRequestHonored() { return ExitRequestHonoredStatus; }

void SetExitHandler(ExitHandler handler) { exitHandler = handler; }

void ExitProcessing(int status) {
  if (exitHandler != nullptr) exitHandler(status);
  std::exit(status);
}
