// What the sources of interfc share: formatting a text of any length, and
// how a thread defers its messages and its fatal exit.
#ifndef VQPEEK_MODULES_INTERFC_INTERFC_INTERNAL_H_
#define VQPEEK_MODULES_INTERFC_INTERFC_INTERNAL_H_

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace interfc_internal {

// A text formatted into a stack buffer of `size` bytes, the size the
// console texts have always had, or into a heap buffer of the exact length
// when the text is longer: a text is never cut short and never overruns.
template <std::size_t size>
class FormattedText {
 public:
  // Consumes `args`; the caller still owns it and calls va_end.
  FormattedText(const char* format, std::va_list args) {
    std::va_list again;
    va_copy(again, args);
    length_ = std::vsnprintf(local_, size, format, args);
    if (length_ < 0) {
      local_[0] = '\0';
    } else if (static_cast<std::size_t>(length_) >= size) {
      heap_.resize(static_cast<std::size_t>(length_) + 1);
      std::vsnprintf(heap_.data(), heap_.size(), format, again);
    }
    va_end(again);
  }
  FormattedText(const FormattedText&) = delete;
  FormattedText& operator=(const FormattedText&) = delete;

  // The whole text; empty when it could not be formatted.
  const char* text() const { return heap_.empty() ? local_ : heap_.data(); }
  // The number of characters of the text, negative when it could not be
  // formatted (an encoding error).
  int length() const { return length_; }

 private:
  char local_[size];
  std::vector<char> heap_;
  int length_ = 0;
};

// A message kept instead of written: its kind (MessageKind), its text and
// the system's error number that came with it (0 for none).
struct KeptMessage {
  int kind;
  std::string text;
  int error;
};

// Where a thread's messages go instead of the console: the worker threads
// of RunInParallel keep their error messages there, and a step run by
// HoldMessages keeps its informational messages as well.
struct MessageSink {
  std::vector<KeptMessage> messages;
  bool keepsModuleMessages = false;
};

// The sink of the calling thread; null while its messages are written.
MessageSink*& ThreadMessageSink();

// Thrown by ExitProcessing on a thread with a sink: it unwinds the work
// there, and whoever set the sink ends the process (or hands the exit on)
// once it may. Derived from nothing, so that no handler for library
// exceptions takes it.
struct FatalExit {
  int status;
};

// Writes a kept message as it would have been written: an error through
// ErrorMessage (SystemErrorMessage with its error number), an
// informational one through PrintMessage.
void WriteKeptMessage(const KeptMessage& message);

}  // namespace interfc_internal

#endif  // VQPEEK_MODULES_INTERFC_INTERFC_INTERNAL_H_
