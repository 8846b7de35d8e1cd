// Console messages and the end of the process.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>

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
// Where this thread's messages are kept instead of written; null while
// they are written.
thread_local interfc_internal::MessageSink* messageSink = nullptr;

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

// Whether this thread keeps messages of this kind instead of writing them.
bool Keeps(int kind) {
  return messageSink != nullptr && (kind == kErrorMessage || messageSink->keepsModuleMessages);
}

// As WriteFormatted, or to the host's message handler when one is set.
// A message of a thread with a sink is kept there.
template <std::size_t size>
int DeliverFormatted(int kind, FILE* stream, const char* format, std::va_list args) {
  if (messageHandler == nullptr && !Keeps(kind)) return WriteFormatted<size>(stream, format, args);
  const interfc_internal::FormattedText<size> text(format, args);
  if (text.length() < 0) return text.length();
  if (Keeps(kind)) {
    try {
      messageSink->messages.push_back({kind, text.text(), messageSystemError});
    } catch (const std::bad_alloc&) {
      // No room for the message: the failure itself still reaches the
      // caller.
    }
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
  if (messageSink != nullptr) throw interfc_internal::FatalExit{status};
  if (exitHandler != nullptr) exitHandler(status);
  std::exit(status);
}

namespace interfc_internal {

MessageSink*& ThreadMessageSink() { return messageSink; }

void WriteKeptMessage(const KeptMessage& message) {
  if (message.kind != kErrorMessage) {
    PrintMessage("%s", message.text.c_str());
  } else if (message.error != 0) {
    SystemErrorMessage(message.error, "%s", message.text.c_str());
  } else {
    ErrorMessage("%s", message.text.c_str());
  }
}

}  // namespace interfc_internal

// --- Held messages -----------------------------------------------------------

struct HeldMessages::State {
  interfc_internal::MessageSink sink;
  bool failed = false;
  int status = 0;
};

HeldMessages::HeldMessages() : state_(std::make_unique<State>()) {}
HeldMessages::~HeldMessages() = default;
HeldMessages::HeldMessages(HeldMessages&&) noexcept = default;
HeldMessages& HeldMessages::operator=(HeldMessages&&) noexcept = default;

bool HeldMessages::Failed() const { return state_->failed; }

void HeldMessages::Release() {
  State& s = *state_;
  std::vector<interfc_internal::KeptMessage> messages = std::move(s.sink.messages);
  s.sink.messages.clear();
  for (const interfc_internal::KeptMessage& message : messages) {
    interfc_internal::WriteKeptMessage(message);
  }
  if (s.failed) ExitProcessing(s.status);
}

HeldMessages HoldMessages(const std::function<void()>& step) {
  HeldMessages held;
  HeldMessages::State& s = *held.state_;
  s.sink.keepsModuleMessages = true;
  interfc_internal::MessageSink* const outer = messageSink;
  messageSink = &s.sink;
  try {
    step();
  } catch (const interfc_internal::FatalExit& exit) {
    s.failed = true;
    s.status = exit.status;
  } catch (...) {
    messageSink = outer;
    throw;
  }
  messageSink = outer;
  return held;
}
