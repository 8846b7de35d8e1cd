#include "parameters.h"

#include <climits>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"
#include "vqpeek/file.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

const char kUsage[] =
    "\n"
    "VQPEEK V.0.17 9.11.00\n"
    "Prints a content of training set file and codebook file.\n"
    "Usage: VQPEEK [-option] <set-file>\n"
    "Input file must be TR-file or CB-file.\n"
    "For example: VQPEEK set_of_4\n"
    "\n"
    "  Options:\n"
    "  -B               = No blanks (default=NO)\n"
    "  -E               = Calculate Entropy (default=NO)\n"
    "  -Fn              = Vector format\n"
    "                            0 = adaptive (default)\n"
    "                            1 = Matrix format\n"
    "                            2 = Line format\n"
    "  -Qn              = Quiet level (0..99, default=2)\n"
    "  -S               = Statistics (default=NO)\n";

ParameterRecord Record(const char* document, char key, int number, int type, int min, int max,
                       int defaultValue) {
  ParameterRecord record{};
  record.Document = document;
  record.Key = static_cast<signed char>(key);
  record.Number = number;
  record.Type = type;
  record.Value = defaultValue;
  record.Min = min;
  record.Max = max;
  record.Default = defaultValue;
  return record;
}

ParameterRecord Switch(const char* document, char key, int defaultValue = 0) {
  return Record(document, key, 0, kBooleanParameter, 0, 1, defaultValue);
}

ParameterRecord Number(const char* document, char key, int number, int min = -1, int max = 1000) {
  return Record(document, key, number, kIntegerParameter, min, max, 0);
}

// Saves the global table and puts it back after each test, so that tests
// may reset it, apply options or install a table of their own.
class ParameterTable : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < kParameterRecords; ++i) saved_[i] = Parameter[i];
    SetDefaultValuesForParameters();
  }
  void TearDown() override {
    for (int i = 0; i < kParameterRecords; ++i) Parameter[i] = saved_[i];
  }

  // Records 1 to 4; the end records are emptied.
  static void Install(std::initializer_list<ParameterRecord> records) {
    ASSERT_EQ(records.size(), 4u);
    Parameter[0] = Parameter[5] = Record(" ", ' ', 0, kBooleanParameter, 0, 0, 0);
    int i = kFirstParameter;
    for (const ParameterRecord& record : records) Parameter[i++] = record;
  }

 private:
  ParameterRecord saved_[kParameterRecords];
};

// An argument vector that owns its texts; index 0 is the program name.
class Args {
 public:
  Args(std::initializer_list<std::string> args) : texts_{"vqpeek"} {
    texts_.insert(texts_.end(), args.begin(), args.end());
    for (std::string& text : texts_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(texts_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<char*> pointers_;
};

// Slots with buffers of kFileNameSize bytes that start out filled with a
// marker, so that a slot the parser forgets to clear is seen. The slot array
// has exactly the given length, so a write past it is caught by the address
// sanitizer.
class Slots {
 public:
  struct Shape {
    const char* extension;
    int level;
    int role;
  };
  Slots(std::initializer_list<Shape> shapes) {
    for (const Shape& shape : shapes) {
      auto buffer = std::make_unique<char[]>(kFileNameSize);
      std::snprintf(buffer.get(), kFileNameSize, "unset");
      slots_.push_back({buffer.get(), shape.extension, shape.level, shape.role});
      buffers_.push_back(std::move(buffer));
    }
  }
  int size() const { return static_cast<int>(slots_.size()); }
  FileNameSlot* data() { return slots_.data(); }
  std::string operator[](int i) const { return slots_[static_cast<std::size_t>(i)].FileName; }

 private:
  std::vector<std::unique_ptr<char[]>> buffers_;
  std::vector<FileNameSlot> slots_;
};

std::string Usage() { return kUsage; }

// "-X1,2,...,last".
std::string OptionWithNumbers(int last) {
  std::string option = "-X1";
  for (int i = 2; i <= last; ++i) {
    option += ',';
    option += std::to_string(i);
  }
  return option;
}

// --- ParseOption on the viewer's table ---------------------------------------

using ParseOptionTest = ParameterTable;

TEST_F(ParseOptionTest, KeyLetterInEitherCase) {
  ParseOption("-e");
  ParseOption("-b");
  ParseOption("-q7");
  ParseOption("-f1");
  EXPECT_EQ(Value_(kEntropy), 1);
  EXPECT_EQ(Value_(kNoBlanks), 1);
  EXPECT_EQ(Value_(kQuietLevel), 7);
  EXPECT_EQ(Value_(kVectorFormat), 1);
}

TEST_F(ParseOptionTest, RangeLimitsAreAccepted) {
  ParseOption("-Q99");
  EXPECT_EQ(Value_(kQuietLevel), 99);
  ParseOption("-Q0");
  EXPECT_EQ(Value_(kQuietLevel), 0);
  ParseOption("-F2");
  EXPECT_EQ(Value_(kVectorFormat), 2);
  EXPECT_STREQ(NameOfValue_(kVectorFormat, Value_(kVectorFormat)), "Line format");
}

TEST_F(ParseOptionTest, SwitchesIgnoreTheirNumbersAndNeverTurnOff) {
  ParseOption("-B7");
  ParseOption("-E0");
  EXPECT_EQ(Value_(kNoBlanks), 1);
  EXPECT_EQ(Value_(kEntropy), 1);
  ParseOption("-B0");
  EXPECT_EQ(Value_(kNoBlanks), 1);
}

TEST_F(ParseOptionTest, LaterOptionOverridesEarlier) {
  ParseOption("-Q3");
  ParseOption("-Q1");
  EXPECT_EQ(Value_(kQuietLevel), 1);
}

TEST_F(ParseOptionTest, OtherCharactersBeforeANumberAreSkipped) {
  for (const char* option : {"-Q-4", "-Qx4", "-Q 4", "-Q--4"}) {
    SetDefaultValuesForParameters();
    ParseOption(option);
    EXPECT_EQ(Value_(kQuietLevel), 4) << option;
  }
  ParseOption("-Q5,7");
  EXPECT_EQ(Value_(kQuietLevel), 5);
}

using ParseOptionDeathTest = ParameterTable;

TEST_F(ParseOptionDeathTest, LetterWithoutAMatchingRecordIsUnknown) {
  EXPECT_STDOUT_FATAL(ParseOption("-q"), "ERROR: Unknown option -Q found.\n");
  EXPECT_STDOUT_FATAL(ParseOption("-F"), "ERROR: Unknown option -F found.\n");
  EXPECT_STDOUT_FATAL(ParseOption("-Qx"), "ERROR: Unknown option -Q found.\n");
  EXPECT_STDOUT_FATAL(ParseOption("-Z"), "ERROR: Unknown option -Z found.\n");
  EXPECT_STDOUT_FATAL(ParseOption("-h"), "ERROR: Unknown option -H found.\n");
  // The end records' blank key is never matched.
  EXPECT_STDOUT_FATAL(ParseOption("- "), "ERROR: Unknown option -  found.\n");
}

TEST_F(ParseOptionDeathTest, LoneDashIsUnknownWithoutAKeyLetter) {
  EXPECT_STDOUT_FATAL(ParseOption("-"), "ERROR: Unknown option - found.\n");
}

TEST_F(ParseOptionDeathTest, NumberOutOfRange) {
  EXPECT_STDOUT_FATAL(ParseOption("-Q100"),
                      "ERROR: Parameter Q(1) = 100 is out of range [0,99].\n");
  EXPECT_STDOUT_FATAL(ParseOption("-f3"), "ERROR: Parameter F(1) = 3 is out of range [0,2].\n");
  EXPECT_STDOUT_FATAL(ParseOption("-Q,5"), "ERROR: Parameter Q(1) = -1 is out of range [0,99].\n");
  EXPECT_STDOUT_FATAL(ParseOption("-Q,"), "ERROR: Parameter Q(1) = -1 is out of range [0,99].\n");
  EXPECT_STDOUT_FATAL(ParseOption("-Q99999999999999999999999"),
                      "ERROR: Parameter Q(1) = 2147483647 is out of range [0,99].\n");
}

// --- ParseOption number scanning, on tables with several records per letter --

using ParseOptionScanTest = ParameterTable;

TEST_F(ParseOptionScanTest, CommasAndSkippedTextPlaceTheNumbers) {
  struct Case {
    const char* option;
    int first, third;
  };
  for (const Case& c :
       {Case{"-X5,,7", 5, 7}, Case{"-x,7", -1, 0}, Case{"-X5x7", 5, 0}, Case{"-X5,", 5, 0},
        Case{"-X1,2,3", 1, 3}, Case{"-X1;2,3,4", 1, 4}, Case{"-X", 0, 0}}) {
    Install({Switch("Switch", 'X'), Number("First", 'X', 1), Number("Third", 'X', 3),
             Number("Other", 'Y', 1)});
    ParseOption(c.option);
    EXPECT_EQ(Value_(1), 1) << c.option;
    EXPECT_EQ(Value_(2), c.first) << c.option;
    EXPECT_EQ(Value_(3), c.third) << c.option;
    EXPECT_EQ(Value_(4), 0) << c.option;
  }
}

TEST_F(ParseOptionScanTest, KeepsNineteenNumbersAtMost) {
  const std::string nineteen = OptionWithNumbers(19);
  const std::string moreThanTwenty = OptionWithNumbers(25);

  Install({Number("First", 'X', 1), Number("Eleventh", 'X', 11), Number("Nineteenth", 'X', 19),
           Number("Twentieth", 'X', 20)});
  ParseOption(nineteen.c_str());
  EXPECT_EQ(Value_(1), 1);
  EXPECT_EQ(Value_(2), 11);
  EXPECT_EQ(Value_(3), 19);
  ParseOption(moreThanTwenty.c_str());
  EXPECT_EQ(Value_(3), 19);
  EXPECT_EQ(Value_(4), 0);
  ParseOption((std::string("-X") + std::string(18, ',') + "42").c_str());
  EXPECT_EQ(Value_(1), -1);
  EXPECT_EQ(Value_(2), -1);
  EXPECT_EQ(Value_(3), 42);
}

TEST_F(ParseOptionScanTest, FirstOfRecordsWithTheSamePositionReceives) {
  Install({Number("A", 'X', 1), Number("B", 'X', 1), Switch("C", 'X'), Switch("D", 'X')});
  ParseOption("-X5");
  EXPECT_EQ(Value_(1), 5);
  EXPECT_EQ(Value_(2), 0);
  EXPECT_EQ(Value_(3), 1);
  EXPECT_EQ(Value_(4), 0);
}

TEST_F(ParseOptionScanTest, OtherTypesTakeNothing) {
  Install(
      {Record("Odd", 'X', 1, 7, 0, 9, 3), Switch("S", 'Y'), Switch("S", 'Y'), Switch("S", 'Y')});
  ParseOption("-X99");
  EXPECT_EQ(Value_(1), 3);
}

using ParseOptionScanDeathTest = ParameterTable;

TEST_F(ParseOptionScanDeathTest, PositionBeyondNineteenIsNeverReached) {
  Install({Number("Twentieth", 'X', 20), Switch("S", 'Y'), Switch("S", 'Y'), Switch("S", 'Y')});
  const std::string twenty = OptionWithNumbers(20);
  EXPECT_STDOUT_FATAL(ParseOption(twenty.c_str()), "ERROR: Unknown option -X found.\n");
}

TEST_F(ParseOptionScanDeathTest, EmptyPositionIsRangeCheckedAsMinusOne) {
  Install({Number("First", 'X', 1), Number("Second", 'X', 2, 0, 9), Switch("S", 'Y'),
           Switch("S", 'Y')});
  EXPECT_STDOUT_FATAL(ParseOption("-X5,,7"), "ERROR: Parameter X(2) = -1 is out of range [0,9].\n");
}

// --- Usage text ----------------------------------------------------------------

using PrintInfoTest = ParameterTable;

TEST_F(PrintInfoTest, ViewerUsageText) {
  CaptureStdout();
  PrintInfo();
  EXPECT_EQ(GetCapturedStdout(), Usage());
}

TEST_F(PrintInfoTest, LetterWithASwitchAndTwoPositions) {
  ParameterRecord mode = Record("Mode", 'X', 2, kEnumeratedParameter, 0, 1, 1);
  mode.NameOfValue[0] = "off";
  mode.NameOfValue[1] = "on";
  Install({Number("Width", 'X', 1), Switch("Blank", 'B', 1), mode, Switch("Switch", 'X')});
  Parameter[1].Default = -1;
  CaptureStdout();
  PrintOptions();
  EXPECT_EQ(GetCapturedStdout(),
            "  -B               = Blank (default=YES)\n"
            "  -Xn1,n2          = Switch (default=NO)\n"
            "                      n1: Width (NOT DEFINED..1000, default=NOT DEFINED)\n"
            "                      n2: Mode\n"
            "                            0 = off\n"
            "                            1 = on (default)\n");
}

TEST_F(PrintInfoTest, PositionsAboveTenAreNotDocumented) {
  Install({Number("Hidden", 'X', 12), Switch("Visible", 'X'), Switch("S", 'Y'), Switch("S", 'Y')});
  CaptureStdout();
  PrintOptions();
  const std::string text = GetCapturedStdout();
  EXPECT_EQ(text.find("Hidden"), std::string::npos) << text;
  EXPECT_NE(text.find("  -Xn              = Visible (default=NO)\n"), std::string::npos) << text;
  ParseOption((std::string("-X") + std::string(11, ',') + "7").c_str());
  EXPECT_EQ(Value_(1), 7);
}

TEST_F(PrintInfoTest, SyntaxColumnForEachCount) {
  const struct {
    char key;
    int count;
    const char* expected;
  } cases[] = {
      {'B', 0, "  -B               = No blanks (default=NO)\n"},
      {'Q', 1, "  -Qn              = "},
      {'Q', 2, "  -Qn1,n2          = \n"},
      {'Q', 3, "  -Qn1,n2,n3       = \n"},
      {'Q', 4, "  -Q[n1,n2,..n4]   = \n"},
      {'Q', 5, "  -Q[n1,n2,..n5]   = \n"},
      {'E', 2, "  -En1,n2          = Calculate Entropy (default=NO)\n"},
      {'Z', 1, ""},
  };
  for (const auto& c : cases) {
    CaptureStdout();
    PrintSyntax(static_cast<signed char>(c.key), c.count);
    EXPECT_EQ(GetCapturedStdout(), c.expected) << c.key << c.count;
  }
}

TEST_F(PrintInfoTest, DocumentationPrefixes) {
  Install({Number("Size", 'X', 1, 0, 9), Switch("Switch", 'X'), Number("Lone", 'Y', 1, 0, 9),
           Switch("S", 'B')});
  const struct {
    char key;
    int index, position, count;
    const char* expected;
  } cases[] = {
      {'X', 1, 1, 1, "                      n: Size (0..9, default=0)\n"},
      {'Y', 3, 1, 1, "Lone (0..9, default=0)\n"},
      {'X', 1, 3, 2, "                      n3: Size (0..9, default=0)\n"},
      {'X', 1, 1, 0, "Size (0..9, default=0)\n"},
  };
  for (const auto& c : cases) {
    CaptureStdout();
    PrintDocumentation(static_cast<signed char>(c.key), c.index, c.position, c.count);
    EXPECT_EQ(GetCapturedStdout(), c.expected) << c.key << c.position << c.count;
  }
}

TEST_F(PrintInfoTest, MissingValueNamesPrintAsNothing) {
  ParameterRecord mode = Record("Mode", 'M', 1, kEnumeratedParameter, 9, 10, 9);
  mode.NameOfValue[9] = "nine";
  Install({mode, Switch("S", 'Y'), Switch("S", 'Y'), Switch("S", 'Y')});
  CaptureStdout();
  PrintDocumentation('M', 1, 1, 0);
  EXPECT_EQ(GetCapturedStdout(),
            "Mode\n"
            "                            9 = nine (default)\n"
            "                            10 = \n");
}

// --- Selected values -------------------------------------------------------------

using PrintSelectedOptionsTest = ParameterTable;

TEST_F(PrintSelectedOptionsTest, ViewerShowsEntropyAndNoBlanks) {
  InitializePrintingConditions();
  ParseOption("-B");
  CaptureStdout();
  PrintSelectedOptions();
  EXPECT_EQ(GetCapturedStdout(),
            "Calculate Entropy         = NO\n"
            "No blanks                 = YES\n");
}

TEST_F(PrintSelectedOptionsTest, EachTypeShowsItsValue) {
  ParameterRecord mode = Record("Mode", 'M', 1, kEnumeratedParameter, 0, 1, 1);
  mode.NameOfValue[1] = "on";
  // A boolean shows YES/NO whatever its names say.
  ParameterRecord flag = Switch("Flag", 'F', 1);
  flag.NameOfValue[1] = "named";
  Install({Number("Count", 'C', 1), Number("Undefined", 'U', 1), mode, flag});
  SetValue_(1, 12);
  SetValue_(2, -1);
  for (int i = kFirstParameter; i <= kLastParameter; ++i) Parameter[i].ShallWePrint = 1;
  CaptureStdout();
  PrintSelectedOptions();
  EXPECT_EQ(GetCapturedStdout(),
            "Count                     = 12\n"
            "Undefined                 = NOT DEFINED\n"
            "Mode                      = on\n"
            "Flag                      = YES\n");
}

// --- Saved values ------------------------------------------------------------------

using OptionsFileTest = ParameterTable;

TEST_F(OptionsFileTest, SavedRecordsRoundTripAsTwoByteFields) {
  Install({Number("A", 'A', 1), Number("B", 'B', 1), Number("C", 'C', 1), Number("D", 'D', 1)});
  Parameter[1].SaveToFile = 1;
  Parameter[3].SaveToFile = 1;
  SetValue_(1, -1);
  SetValue_(2, 77);
  SetValue_(3, 258);
  FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  WriteOptions(stream);
  ASSERT_EQ(std::ftell(stream), 4);
  std::rewind(stream);
  unsigned char bytes[4] = {};
  ASSERT_EQ(std::fread(bytes, 1, 4, stream), 4u);
  EXPECT_EQ(std::vector<int>(bytes, bytes + 4), (std::vector<int>{0xFF, 0xFF, 0x01, 0x02}));

  for (int i = kFirstParameter; i <= kLastParameter; ++i) SetValue_(i, 5);
  std::rewind(stream);
  ReadOptions(stream);
  EXPECT_EQ(Value_(1), 65535);
  EXPECT_EQ(Value_(2), 5);
  EXPECT_EQ(Value_(3), 258);
  EXPECT_EQ(Value_(4), 5);
  std::fclose(stream);
}

TEST_F(OptionsFileTest, ShortFieldLeavesTheValue) {
  Install({Number("A", 'A', 1), Number("B", 'B', 1), Number("C", 'C', 1), Number("D", 'D', 1)});
  Parameter[1].SaveToFile = 1;
  Parameter[2].SaveToFile = 1;
  FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  std::fputs("\x01\x02\x03", stream);
  std::rewind(stream);
  SetValue_(2, 9);
  ::testing::internal::CaptureStderr();
  ReadOptions(stream);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: unable to read from file.");
  EXPECT_EQ(Value_(1), 0x0102);
  EXPECT_EQ(Value_(2), 9);
  std::fclose(stream);
}

TEST_F(OptionsFileTest, ViewerTableSavesNothing) {
  FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  WriteOptions(stream);
  EXPECT_EQ(std::ftell(stream), 0);
  ReadOptions(stream);
  EXPECT_EQ(Value_(kQuietLevel), 2);
  std::fclose(stream);
}

// --- Names -----------------------------------------------------------------------

using ParseNamesTest = ParameterTable;

TEST_F(ParseNamesTest, ViewerSlotsTakeOneOrTwoNames) {
  Args one{"-Q3", "set"};
  Slots slots{{"", 0, 1}, {"", 1, 1}};
  ParseNames(one.argc(), one.argv(), slots.size(), 1, slots.data());
  EXPECT_EQ(slots[0], "set");
  EXPECT_EQ(slots[1], "");
  EXPECT_EQ(ShallWePrint_(kEntropy), 1);
  EXPECT_EQ(ShallWePrint_(kNoBlanks), 1);
  EXPECT_EQ(ShallWePrint_(kQuietLevel), 0);

  // Equal names of two inputs are not compared.
  Args two{"a.ts", "-E", "A.TS"};
  ParseNames(two.argc(), two.argv(), slots.size(), 2, slots.data());
  EXPECT_EQ(slots[0], "a.ts");
  EXPECT_EQ(slots[1], "A.TS");
}

TEST_F(ParseNamesTest, DefaultExtensionCompletesNamesWithoutOne) {
  Args args{"set", "dir.d/book"};
  Slots slots{{"ts", 0, 1}, {"cb", 0, 2}};
  ParseNames(args.argc(), args.argv(), slots.size(), 2, slots.data());
  EXPECT_EQ(slots[0], "set.ts");
  EXPECT_EQ(slots[1], "dir.d/book.cb");

  Args kept{"set.pa", "book."};
  ParseNames(kept.argc(), kept.argv(), slots.size(), 2, slots.data());
  EXPECT_EQ(slots[0], "set.pa");
  EXPECT_EQ(slots[1], "book.");
}

TEST_F(ParseNamesTest, OptionalLevelsChooseTheSlots) {
  Slots slots{{"", 0, 1}, {"", 2, 1}, {"", 1, 1}, {"", 0, 1}};
  Args two{"a", "b"};
  ParseNames(two.argc(), two.argv(), slots.size(), 2, slots.data());
  EXPECT_EQ(slots[0], "a");
  EXPECT_EQ(slots[1], "");
  EXPECT_EQ(slots[2], "");
  EXPECT_EQ(slots[3], "b");

  Args three{"a", "b", "c"};
  ParseNames(three.argc(), three.argv(), slots.size(), 3, slots.data());
  EXPECT_EQ(slots[1], "");
  EXPECT_EQ(slots[2], "b");
  EXPECT_EQ(slots[3], "c");

  Args four{"a", "b", "c", "d"};
  ParseNames(four.argc(), four.argv(), slots.size(), 4, slots.data());
  EXPECT_EQ(slots[1], "b");
  EXPECT_EQ(slots[2], "c");
  EXPECT_EQ(slots[3], "d");
}

TEST_F(ParseNamesTest, NamesFillingTheBufferExactly) {
  const std::string longest(kFileNameSize - 1, 'n');
  const std::string withRoom(kFileNameSize - 4, 'n');
  Args args{longest, withRoom};
  Slots slots{{"", 0, 1}, {"ts", 0, 1}};
  ParseNames(args.argc(), args.argv(), slots.size(), 2, slots.data());
  EXPECT_EQ(slots[0], longest);
  EXPECT_EQ(slots[1], withRoom + ".ts");
}

TEST_F(ParseNamesTest, UncomparedOrEmptyNamesMayBeEqual) {
  Args args{"same", "SAME"};
  Slots withIgnored{{"", 0, 2}, {"", 0, 3}};
  ParseNames(args.argc(), args.argv(), withIgnored.size(), 2, withIgnored.data());
  EXPECT_EQ(withIgnored[1], "SAME");

  Args none{};
  Slots optional{{"", 1, 2}, {"", 1, 2}};
  ParseNames(none.argc(), none.argv(), optional.size(), 0, optional.data());
  EXPECT_EQ(optional[0], "");
  EXPECT_EQ(optional[1], "");
}

using ParseNamesDeathTest = ParameterTable;

TEST_F(ParseNamesDeathTest, WrongNumberOfNames) {
  Slots slots{{"", 0, 1}, {"", 1, 1}};
  Args three{"a", "-E", "b", "c"};
  EXPECT_STDOUT_FATAL(ParseNames(three.argc(), three.argv(), slots.size(), 3, slots.data()),
                      "ERROR: Too many parameters\n\n" + Usage());
  Args none{"-E"};
  EXPECT_STDOUT_FATAL(ParseNames(none.argc(), none.argv(), slots.size(), 0, slots.data()), Usage());
  Slots twoRequired{{"", 0, 1}, {"", 0, 1}};
  Args one{"a"};
  EXPECT_STDOUT_FATAL(ParseNames(one.argc(), one.argv(), twoRequired.size(), 1, twoRequired.data()),
                      "ERROR: Too few parameters\n\n" + Usage());
}

TEST_F(ParseNamesDeathTest, LevelsThatLeaveANameWithoutASlot) {
  // One optional name, but the only optional slot wants two.
  Slots slots{{"", 0, 1}, {"", 2, 1}};
  Args two{"a", "b"};
  EXPECT_STDOUT_FATAL(ParseNames(two.argc(), two.argv(), slots.size(), 2, slots.data()),
                      "ERROR: Too many parameters\n\n" + Usage());
}

TEST_F(ParseNamesDeathTest, NameTooLongForItsBuffer) {
  const std::string tooLong(kFileNameSize, 'n');
  Slots plain{{"", 0, 1}};
  Args args{tooLong};
  EXPECT_STDOUT_FATAL(ParseNames(args.argc(), args.argv(), plain.size(), 1, plain.data()),
                      "ERROR: File name too long (at most 79 characters): " + tooLong + "\n");
  // Without room for ".ts" the completed name would not fit.
  const std::string noRoom(kFileNameSize - 3, 'n');
  Slots completed{{"ts", 0, 1}};
  Args shortArgs{noRoom};
  EXPECT_STDOUT_FATAL(
      ParseNames(shortArgs.argc(), shortArgs.argv(), completed.size(), 1, completed.data()),
      "ERROR: File name too long (at most 76 characters): " + noRoom + "\n");
}

TEST_F(ParseNamesDeathTest, ComparedNamesMustDiffer) {
  Args args{"data", "DATA.TS"};
  Slots inputOutput{{"ts", 0, 1}, {"", 0, 2}};
  EXPECT_STDOUT_FATAL(
      ParseNames(args.argc(), args.argv(), inputOutput.size(), 2, inputOutput.data()),
      "ERROR: Input and output filenames should be different. (DATA.TS)\n");
  Args outputs{"x", "y", "X"};
  Slots threeOutputs{{"", 0, 2}, {"", 0, 2}, {"", 0, 2}};
  EXPECT_STDOUT_FATAL(
      ParseNames(outputs.argc(), outputs.argv(), threeOutputs.size(), 3, threeOutputs.data()),
      "ERROR: Input and output filenames should be different. (X)\n");
}

// --- The whole command line ----------------------------------------------------

using ParseParametersTest = ParameterTable;

TEST_F(ParseParametersTest, ResetsThenAppliesOptionsAroundTheNames) {
  SetValue_(kQuietLevel, 50);
  SetValue_(kEntropy, 1);
  Args args{"-F1", "first", "-b", "second", "-q0"};
  Slots slots{{"", 0, 1}, {"", 1, 1}};
  EXPECT_EQ(ParseParameters(args.argc(), args.argv(), slots.size(), slots.data()), 2);
  EXPECT_EQ(Value_(kQuietLevel), 0);
  EXPECT_EQ(Value_(kEntropy), 0);
  EXPECT_EQ(Value_(kVectorFormat), 1);
  EXPECT_EQ(Value_(kNoBlanks), 1);
  EXPECT_EQ(slots[0], "first");
  EXPECT_EQ(slots[1], "second");
}

TEST_F(ParseParametersTest, ParseOptionsCountsTheOtherArguments) {
  Args args{"-E", "a", "-Q3", "b", "-B"};
  EXPECT_EQ(ParseOptions(args.argc(), args.argv()), 2);
  EXPECT_EQ(Value_(kQuietLevel), 3);
  EXPECT_EQ(Value_(kNoBlanks), 1);
}

TEST_F(ParseParametersTest, OptionErrorComesBeforeTheNameCheck) {
  Args args{"-Z"};
  Slots slots{{"", 0, 1}, {"", 1, 1}};
  EXPECT_STDOUT_FATAL(ParseParameters(args.argc(), args.argv(), slots.size(), slots.data()),
                      "ERROR: Unknown option -Z found.\n");
}

}  // namespace
