#include <climits>
#include <string>

#include "test_support.h"
#include "vqpeek/interfc.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

const std::string kBlankLine = std::string(1, '\r').append(70, ' ').append(1, '\r');
const std::string kRoom(12, ' ');
const std::string kBack12(12, '\b');
const std::string kBack13(13, '\b');

// Every test starts and ends with the display enabled, its counters running
// and no display open. The spinner position is the one state it cannot put
// back; the tests read it through what the counter shows.
class Progress : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    SetProgressVisibility(1);
    FreezeProgressBar(0);
    CaptureStderr();
    CloseProgressWindow();
    GetCapturedStderr();
  }
};

std::string Fancy(int done, int total) {
  CaptureStderr();
  EXPECT_EQ(UpdateFancyProgressBar(done, total), 0);
  return GetCapturedStderr();
}

std::string Bar(int done, int total) {
  CaptureStderr();
  EXPECT_EQ(UpdateProgressBar(done, total), 0);
  return GetCapturedStderr();
}

// Turns the spinner until its next character is '-'.
void TurnToStart() {
  for (int i = 0; i < 4; ++i) {
    if (Fancy(1, 2) == kBack13 + "(/) 50 % done") return;
  }
  ADD_FAILURE() << "the spinner never showed '/'";
}

TEST_F(Progress, BarWritesTwelveCharactersAfterTwelveBackspaces) {
  EXPECT_EQ(Bar(1, 3), kBack12 + " 33 % done  ");
  EXPECT_EQ(Bar(3, 3), kBack12 + "100 % done  ");
  EXPECT_EQ(Bar(-1, 300), kBack12 + "  0 % done  ");  // truncated toward zero
  EXPECT_EQ(Bar(-1, 3), kBack12 + "-33 % done  ");
  EXPECT_EQ(Bar(5, 0), "");
}

TEST_F(Progress, PercentagesWhoseProductOverflows32BitsAreExact) {
  EXPECT_EQ(Bar(30000000, 60000000), kBack12 + " 50 % done  ");
  EXPECT_EQ(Bar(INT_MAX, INT_MAX), kBack12 + "100 % done  ");
  EXPECT_EQ(Bar(INT_MAX, 1), kBack12 + "214748364700 % done  ");
  EXPECT_EQ(Bar(INT_MIN, -1), kBack12 + "214748364800 % done  ");
  EXPECT_EQ(Bar(INT_MIN, INT_MAX), kBack12 + "-100 % done  ");
  TurnToStart();
  EXPECT_EQ(Fancy(INT_MAX, INT_MAX), kBack13 + "(-)100 % done");
}

TEST_F(Progress, SpinnerTurnsThroughFourCharacters) {
  TurnToStart();
  EXPECT_EQ(Fancy(1, 2), kBack13 + "(-) 50 % done");
  EXPECT_EQ(Fancy(1, 2), kBack13 + "(\\) 50 % done");
  EXPECT_EQ(Fancy(1, 2), kBack13 + "(|) 50 % done");
  EXPECT_EQ(Fancy(1, 2), kBack13 + "(/) 50 % done");
  EXPECT_EQ(Fancy(1, 2), kBack13 + "(-) 50 % done");
}

TEST_F(Progress, WaitingAndCompletionTextsLeaveTheSpinnerWhereItWas) {
  TurnToStart();
  EXPECT_EQ(Fancy(0, 10), kBack12 + "  wait...     ");
  EXPECT_EQ(Fancy(7, 0), std::string(14, '\b') + " stage complete");
  EXPECT_EQ(Fancy(0, 0), std::string(14, '\b') + " stage complete");
  EXPECT_EQ(Bar(1, 2), kBack12 + " 50 % done  ");
  EXPECT_EQ(Fancy(1, 4), kBack13 + "(-) 25 % done");
}

TEST_F(Progress, LabelsOnlyWhileOpen) {
  CaptureStderr();
  EXPECT_EQ(UpdateProgressLabel("early %d", 1), 0);
  EXPECT_EQ(GetCapturedStderr(), "");

  CaptureStderr();
  EXPECT_EQ(OpenProgressWindow(), 0);
  EXPECT_EQ(OpenProgressWindow(), 0);
  EXPECT_EQ(UpdateProgressLabel("step %d of %s", 3, "100%"), 14);
  EXPECT_EQ(GetCapturedStderr(), kBlankLine + "step 3 of 100%" + kRoom);

  CaptureStderr();
  EXPECT_EQ(CloseProgressWindow(), 0);
  EXPECT_EQ(GetCapturedStderr(), kBlankLine + kRoom + "\r");

  CaptureStderr();
  EXPECT_EQ(CloseProgressWindow(), 0);
  EXPECT_EQ(UpdateProgressLabel("late"), 0);
  EXPECT_EQ(GetCapturedStderr(), "");
}

TEST_F(Progress, LabelsLongerThanTheirBufferAreWrittenWhole) {
  OpenProgressWindow();
  for (const int length : {255, 256, 257, 5000}) {
    const std::string text(static_cast<std::size_t>(length), 'x');
    CaptureStderr();
    EXPECT_EQ(UpdateProgressLabel("%s", text.c_str()), length);
    EXPECT_EQ(GetCapturedStderr(), kBlankLine + text + kRoom) << length;
  }
}

TEST_F(Progress, InvisibleDisplayNeitherOpensNorCounts) {
  SetProgressVisibility(0);
  CaptureStderr();
  OpenProgressWindow();
  EXPECT_EQ(UpdateProgressLabel("hidden"), 0);
  UpdateProgressBar(1, 2);
  UpdateFancyProgressBar(1, 2);
  UpdateFancyProgressBar(0, 2);
  UpdateFancyProgressBar(1, 0);
  CloseProgressWindow();
  EXPECT_EQ(GetCapturedStderr(), "");
}

TEST_F(Progress, HidingAnOpenDisplayKeepsLabelsButClosesSilently) {
  OpenProgressWindow();
  SetProgressVisibility(0);
  CaptureStderr();
  EXPECT_EQ(UpdateProgressLabel("still"), 5);
  EXPECT_EQ(GetCapturedStderr(), kBlankLine + "still" + kRoom);
  CaptureStderr();
  CloseProgressWindow();
  SetProgressVisibility(1);
  EXPECT_EQ(UpdateProgressLabel("closed"), 0);
  EXPECT_EQ(GetCapturedStderr(), "");
}

TEST_F(Progress, FrozenCountersWriteNothingWhileLabelsGoOn) {
  OpenProgressWindow();
  FreezeProgressBar(1);
  CaptureStderr();
  UpdateProgressBar(1, 2);
  UpdateFancyProgressBar(1, 2);
  UpdateFancyProgressBar(0, 2);
  UpdateFancyProgressBar(1, 0);
  UpdateProgressLabel("label");
  EXPECT_EQ(GetCapturedStderr(), kBlankLine + "label" + kRoom);
  FreezeProgressBar(0);
  EXPECT_EQ(Bar(1, 2), kBack12 + " 50 % done  ");
  FreezeProgressBar(7);
  EXPECT_EQ(Bar(1, 2), "");
}

TEST_F(Progress, CountersDoNotNeedAnOpenDisplay) {
  EXPECT_EQ(Bar(2, 4), kBack12 + " 50 % done  ");
  EXPECT_EQ(Fancy(0, 4), kBack12 + "  wait...     ");
}

}  // namespace
