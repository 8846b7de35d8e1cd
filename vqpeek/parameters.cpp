// The parameter table, option and name parsing, the usage text and the
// saving of parameter values.
#include "parameters.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vqpeek/file.h"
#include "vqpeek/interfc.h"

// Document, Key, Number, Type, Value, Min, Max, Default, SaveToFile,
// NameOfValue, ShallWePrint. Records 0 and 6 are the empty end records.
// clang-format off
ParameterRecord Parameter[kParameterRecords] = {
    {" ",                 ' ', 0, kBooleanParameter,    0, 0,  0, 0, 0, {}, 0},
    {"Quiet level",       'Q', 1, kIntegerParameter,    0, 0, 99, 2, 0, {}, 0},
    {"Calculate Entropy", 'E', 0, kBooleanParameter,    0, 0,  1, 0, 0, {"NO", "YES"}, 0},
    {"Vector format",     'F', 1, kEnumeratedParameter, 0, 0,  2, 0, 0,
     {"adaptive", "Matrix format", "Line format"}, 0},
    {"No blanks",         'B', 0, kBooleanParameter,    0, 0,  1, 0, 0, {}, 0},
    {"Statistics",        'S', 0, kBooleanParameter,    0, 0,  1, 0, 0, {}, 0},
    {" ",                 ' ', 0, kBooleanParameter,    0, 0,  0, 0, 0, {}, 0},
};
// clang-format on

namespace {

// An option carries at most this many numbers; further ones are dropped.
constexpr int kMaxOptionNumbers = 19;
// The usage text documents the positions 1 to this one.
constexpr int kDocumentedPositions = 10;
constexpr int kUndefined = -1;

// Where the descriptions of a letter's positions start: under the "= " of
// the syntax column.
constexpr const char* kPositionIndent = "                      ";
// Where the value names of an enumerated record start.
constexpr const char* kValueIndent = "                            ";

[[noreturn]] void Fail() { ExitProcessing(-1); }

// Whether loops over the parameters go on to record `index`: a table ends at
// kLastParameter or at an empty end record before it.
bool IsParameter(int index) { return index <= kLastParameter && Parameter[index].Key != ' '; }

// The name of a value for printing; a value without a name (or outside the
// names the record can hold) prints as nothing rather than as a null text.
const char* ValueName(int index, int value) {
  if (value < 0 || value >= kValueNames) return "";
  const char* name = Parameter[index].NameOfValue[value];
  return name != nullptr ? name : "";
}

void PrintIntegerOrUndefined(int value) {
  if (value == kUndefined) {
    std::fputs("NOT DEFINED", stdout);
  } else {
    std::printf("%i", value);
  }
}

const char* YesNo(int value) { return value != 0 ? "YES" : "NO"; }

// The first record with `key` and `number`, or 0 when there is none (record
// 0 is an end record, never a parameter).
int FindRecord(signed char key, int number) {
  for (int i = kFirstParameter; IsParameter(i); ++i) {
    if (Parameter[i].Key == key && Parameter[i].Number == number) return i;
  }
  return 0;
}

bool HasKey(signed char key) {
  for (int i = kFirstParameter; IsParameter(i); ++i) {
    if (Parameter[i].Key == key) return true;
  }
  return false;
}

void SetParameterValue(signed char key, int position, int index, int value) {
  ParameterRecord& record = Parameter[index];
  switch (record.Type) {
    case kBooleanParameter:
      record.Value = 1;
      break;
    case kIntegerParameter:
    case kEnumeratedParameter:
      if (value < record.Min || value > record.Max) {
        std::printf("ERROR: Parameter %c(%i) = %i is out of range [%i,%i].\n", key, position, value,
                    record.Min, record.Max);
        Fail();
      }
      record.Value = value;
      break;
    default:
      break;
  }
}

// Reads the decimal number that starts at the digit `text` points to. The
// digits are never negative; a number too large for an int counts as
// INT_MAX.
int ReadNumber(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

// Whether CheckFileName would append an extension: the last '.', '/' or
// '\\' of the name is not a '.'.
bool LacksExtension(const char* name) {
  for (std::size_t i = std::strlen(name); i > 0; --i) {
    const char c = name[i - 1];
    if (c == '.') return false;
    if (c == '/' || c == '\\') return true;
  }
  return true;
}

[[noreturn]] void ReportTooManyNames() {
  std::puts("ERROR: Too many parameters\n");
  PrintInfo();
  Fail();
}

// Copies `name` into the slot and completes it. A name that would not fit
// the buffer with its completion is refused: cutting it would name another
// file.
void StoreName(const FileNameSlot& slot, const char* name) {
  const char* extension = slot.DefaultExtension != nullptr ? slot.DefaultExtension : "";
  const bool complete = extension[0] != '\0' && LacksExtension(name);
  const long completion = complete ? 1 + static_cast<long>(std::strlen(extension)) : 0;
  const long limit = static_cast<long>(kFileNameSize) - 1 - completion;
  const long length = static_cast<long>(std::strlen(name));
  if (length > limit) {
    std::printf("ERROR: File name too long (at most %li characters): %s\n", limit > 0 ? limit : 0,
                name);
    Fail();
  }
  std::memcpy(slot.FileName, name, static_cast<std::size_t>(length) + 1);
  if (complete) CheckFileName(slot.FileName, extension, kFileNameSize);
}

// A lone "-" is no option: it names standard input.
bool IsOption(const char* argument) { return argument[0] == '-' && argument[1] != '\0'; }

// What the usage text does not show: the two-file forms, the names a file
// is found by, and the long options.
void PrintMoreForms() {
  std::printf("\n  Two files:\n");
  std::printf("  %s [%coption] <training-set> <codebook>\n", kProgramName, '-');
  std::printf("                   = the partitions of the nearest code vectors\n");
  std::printf("  %s [%coption] <training-set> <partitioning>\n", kProgramName, '-');
  std::printf("                   = the partitions of the file, with their centroids\n");
  std::puts("\n  Files:");
  std::puts("  -                = standard input, for the first or the second file");
  std::puts("  name             = also found as name.ts, name.cb or name.pa");
  std::puts("  gzip, zstd       = compressed files are read as they are; also found as");
  std::puts("                     name.gz, name.ts.gz, name.ts.zst and the like");
  std::puts("\n  Also:");
  std::puts("  --help           = this text");
  std::puts("  --version        = the version of the program");
  std::puts("  Exit status: 0 after a complete run, 255 after an error.");
}

}  // namespace

const char* Document_(int index) { return Parameter[index].Document; }
signed char Key_(int index) { return Parameter[index].Key; }
int Number_(int index) { return Parameter[index].Number; }
int Type_(int index) { return Parameter[index].Type; }
int Value_(int index) { return Parameter[index].Value; }
int Max_(int index) { return Parameter[index].Max; }
int Min_(int index) { return Parameter[index].Min; }
int Default_(int index) { return Parameter[index].Default; }
int SaveToFile_(int index) { return Parameter[index].SaveToFile; }
int ShallWePrint_(int index) { return Parameter[index].ShallWePrint; }
const char* NameOfValue_(int index, int value) { return Parameter[index].NameOfValue[value]; }
void SetValue_(int index, int value) { Parameter[index].Value = value; }

void SetDefaultValuesForParameters() {
  for (int i = kFirstParameter; IsParameter(i); ++i) {
    Parameter[i].Value = Parameter[i].Default;
  }
}

void InitializePrintingConditions() {
  Parameter[kQuietLevel].ShallWePrint = 0;
  Parameter[kEntropy].ShallWePrint = 1;
  Parameter[kVectorFormat].ShallWePrint = 0;
  Parameter[kNoBlanks].ShallWePrint = 1;
}

void ParseOption(const char* argument) {
  // A lone "-" has no key letter; nothing after it may be read.
  if (argument[0] == '\0' || argument[1] == '\0') {
    std::printf("ERROR: Unknown option - found.\n");
    Fail();
  }
  const auto key = static_cast<signed char>(std::toupper(static_cast<unsigned char>(argument[1])));

  // numbers[j] holds position j; an empty position stays undefined.
  int numbers[kMaxOptionNumbers + 1];
  int count = 0;
  const char* p = argument + 2;
  while (*p != '\0' && count < kMaxOptionNumbers) {
    if (*p == ',') {
      numbers[++count] = kUndefined;
      ++p;
    } else if (std::isdigit(static_cast<unsigned char>(*p))) {
      numbers[++count] = ReadNumber(p);
      // Whatever follows the number up to the next comma is ignored.
      const char* comma = std::strchr(p, ',');
      if (comma == nullptr) break;
      p = comma + 1;
    } else {
      ++p;
    }
  }

  bool found = false;
  if (const int index = FindRecord(key, 0); index != 0) {
    SetParameterValue(key, 0, index, 1);
    found = true;
  }
  for (int position = 1; position <= count; ++position) {
    if (const int index = FindRecord(key, position); index != 0) {
      SetParameterValue(key, position, index, numbers[position]);
      found = true;
    }
  }
  if (!found) {
    std::printf("ERROR: Unknown option %c%c found.\n", '-', key);
    Fail();
  }
}

int ParseOptions(int argc, char** argv) {
  int names = 0;
  for (int i = 1; i < argc; ++i) {
    if (IsOption(argv[i])) {
      ParseOption(argv[i]);
    } else {
      ++names;
    }
  }
  return names;
}

void ParseNames(int argc, char** argv, int slotCount, int nameCount, FileNameSlot* slots) {
  if (nameCount > slotCount) ReportTooManyNames();

  int mandatory = 0;
  for (int s = 0; s < slotCount; ++s) {
    if (slots[s].OptionalLevel == 0) ++mandatory;
  }
  if (nameCount < mandatory) {
    if (nameCount != 0) std::puts("ERROR: Too few parameters\n");
    PrintInfo();
    Fail();
  }

  const int extra = nameCount - mandatory;
  int slot = 0;
  for (int i = 1; i < argc; ++i) {
    if (IsOption(argv[i])) continue;
    while (slot < slotCount && slots[slot].OptionalLevel > extra) {
      slots[slot].FileName[0] = '\0';
      ++slot;
    }
    // Levels that skip too many slots leave this name without a place; for
    // the user it is one name too many.
    if (slot == slotCount) ReportTooManyNames();
    StoreName(slots[slot], argv[i]);
    ++slot;
  }
  for (; slot < slotCount; ++slot) slots[slot].FileName[0] = '\0';

  InitializePrintingConditions();

  for (int a = 0; a < slotCount; ++a) {
    for (int b = a + 1; b < slotCount; ++b) {
      const FileNameSlot& first = slots[a];
      const FileNameSlot& second = slots[b];
      if (first.Role == 1 && second.Role == 1) continue;
      if (first.Role == 3 || second.Role == 3) continue;
      if (first.FileName[0] == '\0' || second.FileName[0] == '\0') continue;
      if (EqualFileNames(first.FileName, second.FileName)) {
        std::printf("ERROR: Input and output filenames should be different. (%s)\n",
                    second.FileName);
        Fail();
      }
    }
  }
}

void AnswerHelpOrVersion(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      PrintInfo();
      PrintMoreForms();
      ExitProcessing(0);
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("vqpeek %s\n", VQPEEK_VERSION_STRING);
      ExitProcessing(0);
    }
  }
}

int ParseParameters(int argc, char** argv, int slotCount, FileNameSlot* slots) {
  AnswerHelpOrVersion(argc, argv);
  SetDefaultValuesForParameters();
  const int names = ParseOptions(argc, argv);
  ParseNames(argc, argv, slotCount, names, slots);
  return names;
}

void PrintInfo() {
  std::printf("\n%s %s %s\n", kProgramName, kProgramVersion, kProgramDate);
  std::puts("Prints a content of training set file and codebook file.");
  std::printf("Usage: %s [%coption] <set-file>\n", kProgramName, '-');
  std::puts("Input file must be TR-file or CB-file.");
  std::printf("For example: %s set_of_4\n", kProgramName);
  std::puts("\n  Options:");
  PrintOptions();
}

void PrintOptions() {
  for (signed char letter = 'A'; letter <= 'Z'; ++letter) {
    int count = 0;
    for (int i = kFirstParameter; IsParameter(i); ++i) {
      if (Parameter[i].Key == letter && Parameter[i].Number > 0) ++count;
    }
    PrintSyntax(letter, count);
    for (int position = 1; position <= kDocumentedPositions; ++position) {
      if (const int index = FindRecord(letter, position); index != 0) {
        PrintDocumentation(letter, index, position, count);
      }
    }
  }
}

void PrintSyntax(signed char key, int count) {
  if (!HasKey(key)) return;
  switch (count) {
    case 0:
      std::printf("  %c%c               = ", '-', key);
      break;
    case 1:
      std::printf("  %c%cn              = ", '-', key);
      break;
    case 2:
      std::printf("  %c%cn1,n2          = ", '-', key);
      break;
    case 3:
      std::printf("  %c%cn1,n2,n3       = ", '-', key);
      break;
    default:
      std::printf("  %c%c[n1,n2,..n%i]   = ", '-', key, count);
      break;
  }
  if (const int index = FindRecord(key, 0); index != 0) {
    PrintDocumentation(key, index, 0, 0);
  } else if (count > 1) {
    std::putchar('\n');
  }
  // With one position and no switch the line stays open for the
  // description of position 1.
}

void PrintDocumentation(signed char key, int index, int position, int count) {
  if (count == 1) {
    // The switch's description has already ended the syntax line.
    if (FindRecord(key, 0) != 0) std::printf("%sn: ", kPositionIndent);
  } else if (count > 1) {
    std::printf("%sn%1i: ", kPositionIndent, position);
  }
  const ParameterRecord& record = Parameter[index];
  std::fputs(record.Document, stdout);
  switch (record.Type) {
    case kIntegerParameter:
      std::fputs(" (", stdout);
      PrintIntegerOrUndefined(record.Min);
      std::fputs("..", stdout);
      PrintIntegerOrUndefined(record.Max);
      std::fputs(", default=", stdout);
      PrintIntegerOrUndefined(record.Default);
      std::puts(")");
      break;
    case kBooleanParameter:
      std::printf(" (default=%s)\n", YesNo(record.Default));
      break;
    case kEnumeratedParameter:
      std::putchar('\n');
      // A wide loop variable: Max may be INT_MAX.
      for (long long v = record.Min; v <= record.Max; ++v) {
        const int value = static_cast<int>(v);
        std::printf("%s%1i = %s%s\n", kValueIndent, value, ValueName(index, value),
                    value == record.Default ? " (default)" : "");
      }
      break;
    default:
      break;
  }
}

void PrintSelectedOptions() {
  for (int i = kFirstParameter; IsParameter(i); ++i) {
    const ParameterRecord& record = Parameter[i];
    if (record.ShallWePrint == 0) continue;
    std::printf("%-25s = ", record.Document);
    switch (record.Type) {
      case kIntegerParameter:
        PrintIntegerOrUndefined(record.Value);
        break;
      case kBooleanParameter:
        std::fputs(YesNo(record.Value), stdout);
        break;
      case kEnumeratedParameter:
        std::fputs(ValueName(i, record.Value), stdout);
        break;
      default:
        break;
    }
    std::putchar('\n');
  }
}

void WriteOptions(FILE* stream) {
  for (int i = kFirstParameter; IsParameter(i); ++i) {
    if (Parameter[i].SaveToFile != 0) WriteIntegerToFile(stream, Parameter[i].Value, 2);
  }
}

void ReadOptions(FILE* stream) {
  for (int i = kFirstParameter; IsParameter(i); ++i) {
    if (Parameter[i].SaveToFile == 0) continue;
    int value = 0;
    // A short field holds a fragment, not a value.
    if (ReadIntegerFromFile(stream, &value, 2) == 2) Parameter[i].Value = value;
  }
}
