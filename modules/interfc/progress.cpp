// The console progress display on standard error.
//
// Every counter call first backs over the text of the previous call and then
// writes text of the same width, so a counter redraws in place after a label
// that left 12 blanks for it.
#include <cstdarg>
#include <cstddef>
#include <cstdio>

#include "interfc_internal.h"
#include "vqpeek/interfc.h"

namespace {

int __ShowProgress = 1;
int __ShowProgressBar = 1;
int __ProgressCreated = 0;
// Never reset: the next computation continues the turn where this one ends.
int spinnerPosition = 0;

constexpr std::size_t kLabelBufferSize = 256;

// "\r", 70 blanks and "\r": blanks the label line and returns to its start.
constexpr char kBlankLine[] =
    "\r                                                                      \r";
constexpr char kCounterRoom[] = "            ";
static_assert(sizeof kBlankLine - 1 == 72 && sizeof kCounterRoom - 1 == 12);

bool CountersShown() { return __ShowProgress != 0 && __ShowProgressBar != 0; }

// done * 100 / total, truncated toward zero. Formed in 64 bits, where
// neither the product nor the quotient can overflow, so a large `done` still
// gives the true percentage; `total` must not be 0.
long long Percentage(int done, int total) { return static_cast<long long>(done) * 100 / total; }

}  // namespace

void SetProgressVisibility(int visible) { __ShowProgress = visible; }

void FreezeProgressBar(int frozen) { __ShowProgressBar = frozen == 0 ? 1 : 0; }

int OpenProgressWindow() {
  if (__ShowProgress != 0 && __ProgressCreated == 0) {
    __ProgressCreated = 1;
    std::fflush(stderr);
  }
  return 0;
}

int UpdateProgressLabel(const char* format, ...) {
  // Only the open state counts here: a label of a display opened before
  // SetProgressVisibility(0) is still written.
  if (__ProgressCreated == 0) return 0;
  std::va_list args;
  va_start(args, format);
  const interfc_internal::FormattedText<kLabelBufferSize> label(format, args);
  va_end(args);
  std::fputs(kBlankLine, stderr);
  std::fputs(label.text(), stderr);
  std::fputs(kCounterRoom, stderr);
  std::fflush(stderr);
  return label.length();
}

int UpdateProgressBar(int done, int total) {
  if (CountersShown() && total != 0) {
    std::fprintf(stderr, "\b\b\b\b\b\b\b\b\b\b\b\b%3lld %% done  ", Percentage(done, total));
    std::fflush(stderr);
  }
  return 0;
}

int UpdateFancyProgressBar(int done, int total) {
  if (!CountersShown()) return 0;
  // The waiting and completion texts are not flushed: standard error is
  // unbuffered, and the next flush brings them out where it is not.
  if (total == 0) {
    std::fputs("\b\b\b\b\b\b\b\b\b\b\b\b\b\b stage complete", stderr);
    return 0;
  }
  if (done == 0) {
    std::fputs("\b\b\b\b\b\b\b\b\b\b\b\b  wait...     ", stderr);
    return 0;
  }
  char turn;
  switch (spinnerPosition) {
    case 0:
      turn = '-';
      spinnerPosition = 1;
      break;
    case 1:
      turn = '\\';
      spinnerPosition = 2;
      break;
    case 2:
      turn = '|';
      spinnerPosition = 3;
      break;
    default:
      turn = '/';
      spinnerPosition = 0;
      break;
  }
  std::fprintf(stderr, "\b\b\b\b\b\b\b\b\b\b\b\b\b(%c)%3lld %% done", turn,
               Percentage(done, total));
  std::fflush(stderr);
  return 0;
}

int CloseProgressWindow() {
  if (__ShowProgress != 0 && __ProgressCreated != 0) {
    UpdateProgressLabel("%s", "");
    std::fputs("\r", stderr);
    std::fflush(stderr);
  }
  __ProgressCreated = 0;
  return 0;
}
