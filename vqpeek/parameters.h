// The viewer's parameter table and command line.
//
// A fixed table of records drives everything: option parsing, the usage
// text and the listing of selected values. Records 1 to 5 are the
// parameters; records 0 and 6 are empty end records. Every loop over the
// parameters visits the indices from 1 up to 5 or to the first end record
// (key ' ') before it, so the operations serve any table of this shape,
// also one of fewer parameters (tests install their own).
//
// An option is "-" followed by a key letter (either case) and up to 19
// comma-separated numbers: "-Q5", "-e", "-X5,,7"; a lone "-" is a file name
// (standard input). A record with Number 0 is
// switched on by its letter alone; a record with Number n takes the n-th
// number. Several records may share one letter.
//
// All output goes to standard output with the plain print calls. Every
// error prints its message there and ends the process through
// ExitProcessing(-1) (255 to the shell).
#ifndef VQPEEK_VQPEEK_PARAMETERS_H_
#define VQPEEK_VQPEEK_PARAMETERS_H_

#include <cstdio>

#include "vqpeek/version.h"

// The program's name, version and date, as the title line of the usage
// text and the header block shows them. The title line is part of the
// output that scripts and recorded sessions compare, so it stays as it is
// when the project's version (vqpeek --version) moves on.
inline constexpr const char* kProgramName = "VQPEEK";
inline constexpr const char* kProgramVersion = "V.0.17";
inline constexpr const char* kProgramDate = "9.11.00";

inline constexpr int kParameterRecords = 7;
inline constexpr int kFirstParameter = 1;
inline constexpr int kLastParameter = 5;
inline constexpr int kValueNames = 10;

// Record indices of the viewer's parameters.
inline constexpr int kQuietLevel = 1;
inline constexpr int kEntropy = 2;
inline constexpr int kVectorFormat = 3;
inline constexpr int kNoBlanks = 4;
inline constexpr int kStatistics = 5;

// Parameter types.
inline constexpr int kBooleanParameter = 0;
inline constexpr int kIntegerParameter = 1;
inline constexpr int kEnumeratedParameter = 2;

struct ParameterRecord {
  const char* Document;  // one-line description
  signed char Key;       // option letter, upper case
  int Number;            // 0: the letter alone switches it on; n: the n-th number
  int Type;              // kBooleanParameter, kIntegerParameter or kEnumeratedParameter
  int Value;             // -1 in an integer record: not defined
  int Min;               // enumerated: the first listed value
  int Max;               // enumerated: the last listed value
  int Default;
  int SaveToFile;  // non-zero: written and read by WriteOptions and ReadOptions
  const char* NameOfValue[kValueNames];  // enumerated: name of each value; null: none
  int ShallWePrint;                      // non-zero: shown by PrintSelectedOptions
};

// The viewer's table: Q quiet level (0..99, default 2), E entropy switch, F
// vector format (0 adaptive, 1 matrix, 2 line) and B no-blanks switch.
extern ParameterRecord Parameter[kParameterRecords];

// One expected file name, in an array that the caller of ParseNames owns.
struct FileNameSlot {
  char* FileName;                // caller's buffer of kFileNameSize bytes
  const char* DefaultExtension;  // without the dot; empty: no completion
  int OptionalLevel;             // 0: required; k: filled when k optional names are given
  int Role;                      // 1 input; 3 never compared; other: compared with all
};

// Field accessors by record index (no bounds check).
const char* Document_(int index);
signed char Key_(int index);
int Number_(int index);
int Type_(int index);
int Value_(int index);
int Max_(int index);
int Min_(int index);
int Default_(int index);
int SaveToFile_(int index);
int ShallWePrint_(int index);
// `value` must lie in 0..kValueNames-1; the result may be null.
const char* NameOfValue_(int index, int value);
// Stores `value` without a range check.
void SetValue_(int index, int value);

// Copies Default into Value for every parameter record.
void SetDefaultValuesForParameters();
// Q 0, E 1, F 0, B 1: the values PrintSelectedOptions shows.
void InitializePrintingConditions();

// Applies one argument that begins with "-". Numbers are read as their
// absolute value; one too large for an int counts as INT_MAX. Later options
// override earlier ones.
// Fatal: prints "ERROR: Unknown option %c%c found.\n" ("ERROR: Unknown
// option - found.\n" for a lone "-") when no record takes the letter alone
// or any given number, or "ERROR: Parameter %c(%i) = %i is out of range
// [%i,%i].\n", and exits with -1.
void ParseOption(const char* argument);

// Applies every argument from index 1 on that begins with "-" (but for a
// lone "-"), in order; returns the number of the other arguments (the name
// arguments).
int ParseOptions(int argc, char** argv);

// Copies the `nameCount` name arguments (those not beginning with "-", and
// a lone "-") into
// the slots in order, skipping optional slots whose level exceeds the number
// of optional names given, completes them with their DefaultExtension and
// clears every slot left without a name. Then sets the printing conditions
// and checks that compared names differ.
// Fatal, each printing to standard output and exiting with -1:
//   more names than slots, or a name for which the levels leave no slot:
//     "ERROR: Too many parameters\n", an empty line and the usage text;
//   fewer names than required slots: "ERROR: Too few parameters\n", an
//     empty line and the usage text (the usage text alone when no name is
//     given);
//   a name that would not fit a slot buffer with its completion:
//     "ERROR: File name too long (at most %i characters): %s\n";
//   two compared names equal regardless of case: "ERROR: Input and output
//     filenames should be different. (%s)\n" with the later name.
void ParseNames(int argc, char** argv, int slotCount, int nameCount, FileNameSlot* slots);

// "--help" anywhere among the arguments prints the usage text, then the
// forms it does not show (the second file, standard input, compressed
// files, the long options and the exit status), and ends the process with
// status 0; "--version" prints "vqpeek " and the version and
// does the same. The first of the two wins; nothing else is looked at.
void AnswerHelpOrVersion(int argc, char** argv);

// Answers --help and --version, then resets the values, applies the options
// and fills the slots; returns the number of name arguments. Fatal as
// ParseOption and ParseNames.
int ParseParameters(int argc, char** argv, int slotCount, FileNameSlot* slots);

// The usage text: program, version, a short description and PrintOptions.
void PrintInfo();
// One syntax line per letter A..Z that has records, followed by the
// description of each of its positions 1 to 10.
void PrintOptions();
// The syntax column for `key` with `count` value positions, and the
// description of the letter's switch record if there is one. Prints nothing
// for a letter without records.
void PrintSyntax(signed char key, int count);
// One record's description with its range or values and its default.
void PrintDocumentation(signed char key, int index, int position, int count);
// "%-25s = value" for every record whose ShallWePrint is set.
void PrintSelectedOptions();

// Write or read the Value of every record with SaveToFile set, as a 2-byte
// big-endian field; a value read back is never negative (-1 gives 65535).
// A field that cannot be read leaves its Value unchanged; the field reader
// has reported it.
void WriteOptions(FILE* stream);
void ReadOptions(FILE* stream);

#endif  // VQPEEK_VQPEEK_PARAMETERS_H_
