// Console messages and the end of the process.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "interfc_internal.h"
#include "vqpeek/interfc.h"

int ExitRequestHonoredStatus = 0;

namespace {

FILE* __ProgramInfoFlow = nullptr;
FILE* __ModuleInfoFlow = nullptr;
ExitHandler exitHandler = nullptr;
MessageHandler messageHandler = nullptr;
// The error number of the message being delivered; 0 outside
// SystemErrorMessage, per thread, since hosts may run library operations
// on several threads at once.
thread_local int messageSystemError = 0;

void SetUnsetFlows() {
  if (__ProgramInfoFlow == nullptr) __ProgramInfoFlow = stdout;
  if (__ModuleInfoFlow == nullptr) __ModuleInfoFlow = stdout;
}

// Writes the formatted text through "%s", so a percent sign inside an
// argument is printed unchanged. A text that cannot be formatted gives the
// negative result of the formatting.
template <std::size_t size>
int WriteFormatted(FILE* stream, const char* format, std::va_list args) {
  const interfc_internal::FormattedText<size> text(format, args);
  if (text.length() < 0) return text.length();
  return std::fprintf(stream, "%s", text.text());
}

// As WriteFormatted, or to the host's message handler when one is set.
// An error message of a worker thread is kept for the calling thread.
template <std::size_t size>
int DeliverFormatted(int kind, FILE* stream, const char* format, std::va_list args) {
  if (messageHandler == nullptr && kind != kErrorMessage) {
    return WriteFormatted<size>(stream, format, args);
  }
  const interfc_internal::FormattedText<size> text(format, args);
  if (text.length() < 0) return text.length();
  if (kind == kErrorMessage &&
      interfc_internal::KeepWorkerMessage(text.text(), messageSystemError)) {
    return text.length();
  }
  if (messageHandler == nullptr) return std::fprintf(stream, "%s", text.text());
  messageHandler(kind, text.text());
  return text.length();
}

constexpr std::size_t kInfoBufferSize = 256;
constexpr std::size_t kErrorBufferSize = 1024;

}  // namespace

int PrintMessage(const char* format, ...) {
  SetUnsetFlows();
  std::va_list args;
  va_start(args, format);
  const int written =
      DeliverFormatted<kInfoBufferSize>(kModuleMessage, __ModuleInfoFlow, format, args);
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
  const int written = DeliverFormatted<kErrorBufferSize>(kErrorMessage, stderr, format, args);
  va_end(args);
  return written;
}

int SystemErrorMessage(int error, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  messageSystemError = error;
  const int written = DeliverFormatted<kErrorBufferSize>(kErrorMessage, stderr, format, args);
  messageSystemError = 0;
  va_end(args);
  return written;
}

int MessageSystemError() { return messageSystemError; }

void FatalError(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  DeliverFormatted<kErrorBufferSize>(kErrorMessage, stderr, format, args);
  va_end(args);
  ExitProcessing(-1);
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

void SetMessageHandler(MessageHandler handler) { messageHandler = handler; }

void ExitProcessing(int status) {
  interfc_internal::EndWorker(status);
  if (exitHandler != nullptr) exitHandler(status);
  std::exit(status);
}
