#include "vqpeek/interfc.h"

#include <string>

#include "vqpeek/threads.h"

#include "test_support.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

TEST(PrintMessage, GoesToStandardOutputUntilMovedToStandardError) {
  CaptureStdout();
  CaptureStderr();
  EXPECT_EQ(PrintMessage("a%d\n", 1), 3);
  OpenInfoFlow(1);
  PrintMessage("module\n");
  PrintProgramMessage("program\n");
  OpenInfoFlow(0);
  PrintMessage("back\n");
  EXPECT_EQ(GetCapturedStdout(), "a1\nprogram\nback\n");
  EXPECT_EQ(GetCapturedStderr(), "module\n");
}

TEST(PrintMessage, WritesPercentSignsOfArgumentsUnchanged) {
  CaptureStdout();
  PrintMessage("%s", "100% sure");
  EXPECT_EQ(GetCapturedStdout(), "100% sure");
}

TEST(PrintMessage, LongerThanItsBufferIsWrittenWhole) {
  const std::string longText(5000, 'x');
  CaptureStdout();
  CaptureStderr();
  EXPECT_EQ(PrintMessage("<%s>", longText.c_str()), 5002);
  EXPECT_EQ(PrintProgramMessage("%s", longText.c_str()), 5000);
  EXPECT_EQ(ErrorMessage("ERROR: %s\n", longText.c_str()), 5008);
  EXPECT_EQ(GetCapturedStdout(), "<" + longText + ">" + longText);
  EXPECT_EQ(GetCapturedStderr(), "ERROR: " + longText + "\n");
}

TEST(PrintMessage, ExactlyAtTheBufferBoundary) {
  for (const int length : {254, 255, 256, 257}) {
    const std::string text(static_cast<std::size_t>(length), 'b');
    CaptureStdout();
    PrintMessage("%s", text.c_str());
    EXPECT_EQ(GetCapturedStdout(), text) << length;
  }
  for (const int length : {1022, 1023, 1024, 1025}) {
    const std::string text(static_cast<std::size_t>(length), 'e');
    CaptureStderr();
    ErrorMessage("%s", text.c_str());
    EXPECT_EQ(GetCapturedStderr(), text) << length;
  }
}

TEST(CloseInfoFlow, ReturnsZero) { EXPECT_EQ(CloseInfoFlow(), 0); }

TEST(ExitRequested, AlwaysZeroAndHonoredStatusIsStored) {
  EXPECT_EQ(ExitRequested(), 0);
  EXPECT_EQ(ExitRequestHonored(), 0);
  SetExitRequestHonored(3);
  EXPECT_EQ(ExitRequestHonored(), 3);
  EXPECT_EQ(ExitRequestHonoredStatus, 3);
  SetExitRequestHonored(0);
  EXPECT_EQ(ExitRequested(), 0);
}

TEST(ExitProcessingDeathTest, ErrorMessageThenExitEndsWith255AndTheMessageAlone) {
  EXPECT_FATAL(
      {
        ErrorMessage("ERROR: Unknown error function %d (DistType).\n", 5);
        ExitProcessing(-1);
      },
      "ERROR: Unknown error function 5 (DistType).\n");
}

TEST(ExitProcessingDeathTest, FlushesBufferedStandardOutput) {
  // The child's buffered standard output must reach the pipe before the
  // exit, so the status is seen only after the write.
  EXPECT_EXIT(
      {
        std::printf("pending");
        ExitProcessing(3);
      },
      ::testing::ExitedWithCode(3), "");
}

[[noreturn]] void ThrowingHandler(int status) { throw status; }

TEST(SetExitHandler, TakesOverTheEndOfTheProcess) {
  SetExitHandler(ThrowingHandler);
  int caught = 0;
  try {
    ExitProcessing(-1);
  } catch (int status) {
    caught = status;
  }
  SetExitHandler(nullptr);
  EXPECT_EQ(caught, -1);
}

std::string handed;
void CollectingHandler(int kind, const char* text) {
  handed += std::to_string(kind) + ":" + text + "|";
}

TEST(SetMessageHandler, TakesErrorAndModuleMessagesWholeAndWritesNothing) {
  SetMessageHandler(CollectingHandler);
  handed.clear();
  const std::string longText(2000, 'x');
  CaptureStdout();
  CaptureStderr();
  const int errorLength = ErrorMessage("ERROR: %s %d\n", longText.c_str(), 7);
  const int moduleLength = PrintMessage("WARNING: %s\n", "50%");
  PrintProgramMessage("program\n");
  const std::string out = GetCapturedStdout();
  const std::string err = GetCapturedStderr();
  SetMessageHandler(nullptr);
  EXPECT_EQ(handed, "1:ERROR: " + longText + " 7\n|0:WARNING: 50%\n|");
  EXPECT_EQ(errorLength, 2010);
  EXPECT_EQ(moduleLength, 13);
  EXPECT_EQ(out, "program\n");  // the program's own flow stays on the console
  EXPECT_EQ(err, "");
}

std::string numbered;
void NumberingHandler(int, const char* text) {
  numbered += std::to_string(MessageSystemError()) + ":" + text + "|";
}

TEST(SystemErrorMessage, HandsItsErrorNumberToTheHandlerAlone) {
  SetMessageHandler(NumberingHandler);
  numbered.clear();
  EXPECT_EQ(SystemErrorMessage(2, "ERROR: %s", "gone"), 11);
  ErrorMessage("plain");
  PrintMessage("info");
  SetMessageHandler(nullptr);
  EXPECT_EQ(numbered, "2:ERROR: gone|0:plain|0:info|");
  EXPECT_EQ(MessageSystemError(), 0);
  CaptureStderr();  // without a handler it is an ErrorMessage
  SystemErrorMessage(13, "ERROR: %d\n", 13);
  EXPECT_EQ(GetCapturedStderr(), "ERROR: 13\n");
}

TEST(HoldMessages, KeepsTheStepsMessagesAndExitUntilReleased) {
  SetMessageHandler(NumberingHandler);
  numbered.clear();
  bool after = false;
  HeldMessages held = HoldMessages([&] {
    PrintMessage("WARNING: %d\n", 1);
    // A failure on another thread reaches the step as it would the caller.
    RunInParallel(2, 2, [](int part, int) {
      if (part == 1) {
        SystemErrorMessage(2, "ERROR: Cannot find the file: %s", "b");
        FatalError("\n");
      }
    });
    after = true;
  });
  EXPECT_FALSE(after);
  EXPECT_TRUE(held.Failed());
  EXPECT_EQ(numbered, "");
  ErrorMessage("first\n");
  EXPECT_FALSE(HoldMessages([] {}).Failed());
  SetMessageHandler(nullptr);
  EXPECT_EQ(numbered, "0:first\n|");
  // Released: every message in its order, with its kind and error number,
  // then the exit.
  struct HostExit {
    int status;
  };
  SetMessageHandler(NumberingHandler);
  SetExitHandler([](int status) { throw HostExit{status}; });
  numbered.clear();
  int status = 0;
  try {
    held.Release();
  } catch (const HostExit& exit) {
    status = exit.status;
  }
  SetExitHandler(nullptr);
  SetMessageHandler(nullptr);
  EXPECT_EQ(status, -1);
  EXPECT_EQ(numbered, "0:WARNING: 1\n|2:ERROR: Cannot find the file: b|0:\n|");
}

}  // namespace
