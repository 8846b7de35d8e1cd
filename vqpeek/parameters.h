// The viewer's parameter table and command line.
//
// A fixed table of records drives everything: option parsing, the usage
// text and the listing of selected values. Records 1 to 4 are the
// parameters; records 0 and 5 are empty end records. Every loop over the
// parameters visits exactly the indices 1 to 4, so the operations serve any
// table of this shape (tests install their own).
//
// All output goes to standard output with the plain print calls. Every
// error prints its message and ends the process with -1 (255 to the shell).
#ifndef VQPEEK_VQPEEK_PARAMETERS_H_
#define VQPEEK_VQPEEK_PARAMETERS_H_

#include <cstdio>

inline constexpr int kParameterRecords = 6;
inline constexpr int kFirstParameter = 1;
inline constexpr int kLastParameter = 4;
inline constexpr int kValueNames = 10;

// Record indices of the viewer's parameters.
inline constexpr int kQuietLevel = 1;
inline constexpr int kEntropy = 2;
inline constexpr int kVectorFormat = 3;
inline constexpr int kNoBlanks = 4;

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
  int Min;
  int Max;
  int Default;
  int SaveToFile;  // non-zero: written and read by WriteOptions and ReadOptions
  const char* NameOfValue[kValueNames];
  int ShallWePrint;  // non-zero: shown by PrintSelectedOptions
};

extern ParameterRecord Parameter[kParameterRecords];

// One expected file name.
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
const char* NameOfValue_(int index, int value);
void SetValue_(int index, int value);

// Copies Default into Value for records 1 to 4.
void SetDefaultValuesForParameters();
// Q 0, E 1, F 0, B 1: the values PrintSelectedOptions shows.
void InitializePrintingConditions();

// Applies one argument that begins with "-". Exits with "ERROR: Unknown
// option %c%c found.\n" or "ERROR: Parameter %c(%i) = %i is out of range
// [%i,%i].\n".
void ParseOption(const char* argument);
// Applies every argument from index 1 on that begins with "-"; returns the
// number of the other arguments.
int ParseOptions(int argc, char** argv);
// Fills the slots with the name arguments (those not beginning with "-").
// Exits on too many or too few names, a name too long for its buffer, or two
// compared names that are equal.
void ParseNames(int argc, char** argv, int slotCount, int nameCount, FileNameSlot* slots);
// Resets the values, applies the options and fills the slots; returns the
// number of name arguments.
int ParseParameters(int argc, char** argv, int slotCount, FileNameSlot* slots);

void PrintInfo();
void PrintOptions();
void PrintSyntax(signed char key, int count);
void PrintDocumentation(signed char key, int index, int position, int count);
void PrintSelectedOptions();

// Writes or reads the Value of every record with SaveToFile set, as a 2-byte
// big-endian field.
void WriteOptions(FILE* stream);
void ReadOptions(FILE* stream);

#endif  // VQPEEK_VQPEEK_PARAMETERS_H_
