// interfc: console messages, the ending of the process, and a console
// progress display.
//
// Every fatal condition in the library is reported the same way: one
// complete message through ErrorMessage (the caller supplies its own
// "ERROR: " prefix and trailing newline), then ExitProcessing(-1). Nothing
// here adds a prefix, a newline or a time stamp, and nothing here decides
// whether a message is shown: every call prints.
//
// Informational messages go through two flows. Both start unset and are set
// to standard output by the first PrintMessage, PrintProgramMessage or
// OpenInfoFlow. The program flow always stays on standard output; the module
// flow follows the last OpenInfoFlow (standard output or standard error).
// Error messages and the progress display always go to standard error.
//
// Single-threaded: the module keeps plain globals without locking. On the
// worker threads of RunInParallel (vqpeek/threads.h) error messages and the
// fatal exit are handed to the calling thread instead, and a step run by
// HoldMessages keeps its messages and its fatal exit until they are
// released.
#ifndef VQPEEK_INTERFC_H_
#define VQPEEK_INTERFC_H_

#include <functional>
#include <memory>

#include "vqpeek/export.h"

#define VQ_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))

// --- Messages --------------------------------------------------------------

// Formats the text and writes it to the module flow, then flushes that flow.
// A text of any length is written whole. Returns the number of characters
// written, negative on a write error.
VQPEEK_EXPORT int PrintMessage(const char* format, ...) VQ_PRINTF_FORMAT(1, 2);

// As PrintMessage, but writes to and flushes the program flow.
VQPEEK_EXPORT int PrintProgramMessage(const char* format, ...) VQ_PRINTF_FORMAT(1, 2);

// Formats the text and writes it to standard error. Does not end the process
// and does not touch the flows. Returns the number of characters written.
VQPEEK_EXPORT int ErrorMessage(const char* format, ...) VQ_PRINTF_FORMAT(1, 2);

// As ErrorMessage, for a failure that the system reported with the error
// number `error` (an errno value): a host's message handler learns the
// number through MessageSystemError while it handles this message.
VQPEEK_EXPORT int SystemErrorMessage(int error, const char* format, ...) VQ_PRINTF_FORMAT(2, 3);

// Flushes the module flow, then points it to standard error when `toStderr`
// is non-zero, to standard output when it is 0. Returns 0.
VQPEEK_EXPORT int OpenInfoFlow(int toStderr);

// Flushes the module flow and then the program flow, where set. Returns 0.
VQPEEK_EXPORT int CloseInfoFlow();

// --- Stop requests and the end of the process -------------------------------

// Whether a long computation has honoured a request to stop (0 at start).
extern VQPEEK_EXPORT int ExitRequestHonoredStatus;

// Whether a stop of the running computation was requested: always 0 on the
// console.
VQPEEK_EXPORT int ExitRequested();
VQPEEK_EXPORT void SetExitRequestHonored(int status);
VQPEEK_EXPORT int ExitRequestHonored();

// Ends the process with `status` through the normal exit, so open streams are
// flushed and exit handlers run. This is the only place that ends the
// process; -1 (255 as the shell sees it) is the status of every fatal error.
[[noreturn]] VQPEEK_EXPORT void ExitProcessing(int status);

// The library's fatal convention in one call: writes the formatted message
// through ErrorMessage, then ends the process with ExitProcessing(-1).
[[noreturn]] VQPEEK_EXPORT void FatalError(const char* format, ...) VQ_PRINTF_FORMAT(1, 2);

// Lets a host that embeds the library (a fuzzing harness, say) take over the
// end of the process: ExitProcessing calls the handler, which must not
// return (it may throw). A null handler restores the process exit.
using ExitHandler = void (*)(int status);
VQPEEK_EXPORT void SetExitHandler(ExitHandler handler);

// Lets such a host receive the library's messages instead of the console:
// ErrorMessage and PrintMessage hand their whole formatted text to the
// handler, with the kind of message, and write nothing themselves (their
// result is then the length of the text). The program flow is not affected.
// The handler must not throw. A null handler restores the console.
enum MessageKind : int {
  kModuleMessage = 0,  // a PrintMessage text (listings, warnings)
  kErrorMessage = 1,   // an ErrorMessage text
};
using MessageHandler = void (*)(int kind, const char* text);
VQPEEK_EXPORT void SetMessageHandler(MessageHandler handler);

// Inside a message handler: the system's error number that came with the
// message being handled (SystemErrorMessage), 0 for any other message.
VQPEEK_EXPORT int MessageSystemError();

// --- Held messages -----------------------------------------------------------
//
// A step whose messages must come after those of a later step (a second
// file read before the first one has been checked) runs with its messages
// held, and they are given when their turn comes.

// What a held step said, and whether it ended in a fatal exit.
class VQPEEK_EXPORT HeldMessages {
 public:
  HeldMessages();
  ~HeldMessages();
  HeldMessages(HeldMessages&&) noexcept;
  HeldMessages& operator=(HeldMessages&&) noexcept;

  // Whether the step ended in a fatal exit (ExitProcessing).
  bool Failed() const;

  // Gives the held messages in their order as the step would have given
  // them: error messages through ErrorMessage (SystemErrorMessage, with the
  // error number they came with), informational ones through PrintMessage.
  // Then, when the step failed, ends the process as the step would have:
  // ExitProcessing with its status. Releasing again gives nothing more.
  void Release();

 private:
  friend HeldMessages HoldMessages(const std::function<void()>& step);
  struct State;
  std::unique_ptr<State> state_;
};

// Runs `step` on the calling thread with its messages held: the texts of
// ErrorMessage, SystemErrorMessage and PrintMessage are kept instead of
// written, and a fatal exit ends the step instead of the process (threads
// the step starts through RunInParallel hand their failure on to it as
// usual). Any other exception passes through.
VQPEEK_EXPORT HeldMessages HoldMessages(const std::function<void()>& step);

// --- Progress display (standard error) --------------------------------------
//
// A label line between OpenProgressWindow and CloseProgressWindow, and two
// percentage counters that each back over the text of the previous call with
// backspaces and write text of the same width. The display starts enabled
// and closed. SetProgressVisibility(0) switches everything off (a label of a
// display that is already open is still written); FreezeProgressBar(1) only
// the counters. Both take effect at the next call. The counters do not
// depend on the open state.

VQPEEK_EXPORT void SetProgressVisibility(int visible);
VQPEEK_EXPORT void FreezeProgressBar(int frozen);

// Opens the display when it is enabled and not yet open, and flushes
// standard error. Returns 0.
VQPEEK_EXPORT int OpenProgressWindow();

// Blanks the label line ("\r", 70 blanks, "\r"), writes the formatted label
// whole, whatever its length, followed by 12 blanks (the room the counters
// back over), and flushes. Writes nothing while no display is open. Returns
// the length of the formatted label, 0 when closed, negative when the label
// cannot be formatted.
VQPEEK_EXPORT int UpdateProgressLabel(const char* format, ...) VQ_PRINTF_FORMAT(1, 2);

// Writes 12 backspaces and "%3i %% done  " with done * 100 / total, truncated
// toward zero; the percentage is formed in 64 bits, so it is exact for any
// `done`. Writes nothing when total is 0. Returns 0.
VQPEEK_EXPORT int UpdateProgressBar(int done, int total);

// As UpdateProgressBar, with 13 backspaces and a turning character in
// parentheses before the percentage ('-', '\\', '|', '/', continuing across
// calls for the life of the process). total 0 writes 14 backspaces and
// " stage complete"; otherwise done 0 writes 12 backspaces and "  wait...".
// Returns 0.
VQPEEK_EXPORT int UpdateFancyProgressBar(int done, int total);

// Blanks the label line of an open, enabled display and returns to its
// start; in every case leaves the display closed. Returns 0.
VQPEEK_EXPORT int CloseProgressWindow();

#endif  // VQPEEK_INTERFC_H_
