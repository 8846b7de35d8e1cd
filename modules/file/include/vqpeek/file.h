// file: what every file format of the system shares. Opening a file under
// the rules for existing files, reading any input (standard input, pipes,
// compressed files), writing a file whole, integer fields of 1 to 4 bytes,
// file-name completion and comparison, and a bit stream.
//
// Streams are standard I/O streams opened in binary mode. No operation
// closes a stream it was given. File names are NUL-terminated texts; both
// '/' and '\\' separate directories. Operations that write into a caller's
// name buffer take its capacity and never write past it.
//
// Messages go to standard error through ErrorMessage. Only OpenFile and the
// failures of FileReplacement end the process; everything else reports and
// returns a failure value.
#ifndef VQPEEK_FILE_H_
#define VQPEEK_FILE_H_

#include "vqpeek/export.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// The size of the file-name buffers of this system, terminator included.
inline constexpr std::size_t kFileNameSize = 80;

// --- Opening files ---------------------------------------------------------

// 1 when the file can be opened for reading ("rb"), else 0.
VQPEEK_EXPORT int ExistFile(const char* name);

// Mode 1 opens `name` for reading ("rb"). Mode 0 creates it for writing
// ("wb+"); an existing file (told from its metadata, without opening it) is
// left untouched unless `overwrite` is exactly 1, and then a plain file is
// deleted first while a device, a pipe or a symbolic link is opened as it
// stands; a name whose metadata cannot be read for another reason than
// its absence (a loop of symbolic links) is not opened ("Couldn't open the
// file"). Returns the stream, or null after one of
// the messages "ERROR: Cannot find the file: %s", "ERROR: File already
// exists: %s", "ERROR: Couldn't open the file: %s" or "ERROR: Invalid file
// mode:%d" (none ends with a newline). The three file messages come with
// the system's error number (SystemErrorMessage; EEXIST for an existing file).
VQPEEK_EXPORT FILE* FileOpen(const char* name, int mode, int overwrite);

// As FileOpen. Fatal: where FileOpen gives no stream, exits with -1 after
// its message.
VQPEEK_EXPORT FILE* OpenFile(const char* name, int mode, int overwrite);

// --- Reading any input -----------------------------------------------------
//
// An InputFile reads the content of a named input from its start, whatever
// stands behind the name: a regular file, standard input ("-"), a named
// pipe, a terminal or a device. A file compressed with gzip or zstd,
// recognised by its first bytes whatever its name, is read as its
// decompressed content, from a regular file or a pipe alike; several gzip
// members or zstd frames one after the other read as one content. A
// damaged compressed stream (cut short, altered, a wrong checksum) is
// fatal where the reading meets the damage; a checksum is checked at the
// end of its member or frame.
//
// A regular file, plain or compressed, can be read again from any position
// (a compressed one is decompressed again from its start); standard input
// and pipes are read once.
//
// A name that cannot be opened twice (standard input, a pipe) keeps what
// PeekInput read of it: the stream stays open, and the next InputFile::Open
// of the same name takes it over and reads those bytes first, so that a
// look at a file's first line loses nothing.

enum class Compression { kNone, kGzip, kZstd };

// The first bytes of the named input's content (at most `count`, fewer only
// when it is shorter) into `bytes`. False, with nothing said, when the name
// cannot be opened or read (a missing file, a directory). An input that
// cannot be opened twice stays open for the next InputFile::Open of `name`
// (see above); a later PeekInput of the same name looks at the same bytes.
// Fatal: as InputFile::Open and InputFile::Read.
VQPEEK_EXPORT bool PeekInput(const char* name, std::size_t count, std::string* bytes);

class VQPEEK_EXPORT InputFile {
 public:
  // Opens `name` ("-": standard input) for reading. Returns null after
  // "ERROR: Cannot find the file: %s" (no newline; with the system's error
  // number). Fatal: "ERROR: The file %s is compressed with %s, which this
  // build cannot read (it was built without %s).\n"; the messages of Read
  // for the first bytes.
  static std::unique_ptr<InputFile> Open(const char* name);
  // Reads `stream` from where it stands, as it is (never decompressed). The
  // stream stays the caller's and must outlive the InputFile.
  static std::unique_ptr<InputFile> Borrow(FILE* stream);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Reads up to `size` bytes of the content into `data`; fewer only at its
  // end, 0 after it. Fatal: "ERROR: unable to read from file: %s\n" with the
  // system's reason (and error number); "ERROR: The compressed file %s is
  // damaged: %s.\n" with what is wrong; "ERROR: Not enough memory to
  // decompress %s.\n".
  std::size_t Read(void* data, std::size_t size);

  // The bytes of the content that Read has handed out.
  std::uint64_t Position() const;
  // The bytes of the content after Position(), where the file's size tells
  // them (a plain regular file, a stream that can seek); -1 otherwise.
  std::int64_t KnownRemaining() const;
  // As KnownRemaining, and for a compressed regular file the count that
  // decompressing it to its end gives (once; Read then goes on where it
  // was). -1 for an input that can be read only once. Fatal: as Read.
  std::int64_t Remaining();

  // Whether Seek can go back: a regular file, plain or compressed.
  bool Rewindable() const;
  // Goes to byte `position` of the content, which Read then continues
  // from. False when the input cannot be read again, or when the file's
  // size or modification time is no longer what it was when it was opened
  // (or its content ends before `position`). Fatal: as Read.
  bool Seek(std::uint64_t position);

  Compression compression() const;
  // The name the input was opened by ("" for a borrowed stream).
  const std::string& name() const;

  struct State;  // opaque

 private:
  friend bool PeekInput(const char* name, std::size_t count, std::string* bytes);
  explicit InputFile(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// Whether `name` reads standard input: "-", or a name of the pipe, terminal
// or device that standard input is (/dev/stdin, say). A regular file that
// standard input is redirected from does not count: its name opens it
// anew.
VQPEEK_EXPORT bool IsStandardInput(const char* name);

// Whether this build reads files compressed with `compression` (kNone:
// always).
VQPEEK_EXPORT bool ReadsCompression(Compression compression);

// --- Writing a file whole --------------------------------------------------
//
// The writers of the data files go through a FileReplacement, so that a
// failed or interrupted write never costs the old file and never leaves part
// of a new one.
//
// A regular file (new, or an existing one replaced; through symbolic links
// the file they finally point to, the links staying) is written into a new
// file in the same directory, flushed to disk and only then put in the
// target's place by a rename. On Linux the new file has no name while it is
// written (O_TMPFILE), so that a crash or kill -9 leaves nothing behind; it
// gets one just before the rename. Elsewhere, and where the file system has
// no unnamed files, it is created under its name with O_EXCL, so that no
// other file is ever overwritten. Either name is ".<name>.tmp-<pid>-<n>"
// beside the target (<name> the target's last path component, <pid> the
// process id, <n> a counter), or ".vqpeek.tmp-<pid>-<n>" where the target's
// name leaves no room; the dot hides it from listings.
//
// What a replaced file keeps: its permission bits, and its owner and group
// where the process may set them. When the owner cannot be kept, the
// setuid and setgid bits are dropped, since they would now grant the
// writer's rights. Access control lists and extended attributes are not
// carried over: the new file has what the directory gives any new file.
// A target with more than one hard link is refused: a rename would leave
// the other links with the old contents, and writing in place would lose
// the old file on a failure.
//
// Anything else that exists (a device, a pipe, a terminal) is written in
// place and never deleted. Every failure removes the new file, never a file
// this writer did not create, leaves the old file exactly as it was and is
// fatal, naming the file and the system's reason; every message comes
// with the system's error number (SystemErrorMessage).
class VQPEEK_EXPORT FileReplacement {
 public:
  // Prepares to write `name`. With `overwrite` other than 1 an existing file
  // is reported ("ERROR: File already exists: %s", no newline, not fatal)
  // and stream() is null: nothing is written. Fatal: "ERROR: Couldn't open
  // the file: %s: %s\n" (name, reason) when it cannot be created, when its
  // metadata cannot be read for any reason but its absence (a loop of
  // symbolic links, whatever `overwrite` says), when symbolic links do not
  // end in a file, and when it has other hard links (reason "The file has
  // other hard links, which replacing it would leave with the old
  // contents", error number EMLINK).
  FileReplacement(const char* name, int overwrite);
  // Removes an unfinished new file: the target stays as it was.
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Where to write, or null when nothing is to be written.
  FILE* stream() const { return stream_; }

  // Writes `size` bytes; nothing when stream() is null. Fatal: "ERROR:
  // unable to write to file. %s: %s\n" (name, reason).
  void Write(const void* data, std::size_t size);

  // Flushes the file to disk and puts it in the target's place; nothing
  // when stream() is null. Fatal: as Write.
  void Commit();

  // Drops the new file without touching the target; for a caller that ends
  // the run over an error of its own.
  void Abandon();

  // Drops the new file, reports the failure with the system's reason
  // `error` (an errno value) as Write does, and ends the run.
  [[noreturn]] void Fail(int error);

 private:
  [[noreturn]] void FailToOpen(int error);
  // `error` 0: a refusal of this writer's own, with no system error number.
  [[noreturn]] void FailToOpen(int error, const char* reason);

  std::string name_;       // as the caller gave it, for messages
  std::string target_;     // the file a regular target finally stands for
  std::string temporary_;  // the new file's name, once this writer made it
  FILE* stream_ = nullptr;
  bool inPlace_ = false;  // a device, a pipe or a terminal
  bool unnamed_ = false;  // the new file has no name yet
};

// --- Integer fields --------------------------------------------------------
//
// A big-endian field of n bytes (1 to 4) holds the most significant byte
// first. For n below 4 a field reads back as 0 .. 256^n-1, never negative;
// a 4-byte field is the two's complement of a signed 32-bit value.

// Reads a big-endian field of `n` bytes into `value`. Returns the number of
// bytes read, `n` on success. At end of file writes "ERROR: unable to read
// from file." and stops; `value` then holds the bytes read so far followed
// by one zero byte. A width of 0 or less reads nothing and stores 0.
VQPEEK_EXPORT int ReadIntegerFromFile(FILE* stream, int* value, int n);

// As ReadIntegerFromFile for a little-endian field (least significant byte
// first); after a short read `value` holds the bytes read in their places.
VQPEEK_EXPORT int ReadLittleEndianIntegerFromFile(FILE* stream, int* value, int n);

// Writes `value` as a big-endian field of `n` bytes and returns the number
// of bytes written. For n of 1 to 3 a value of 256^n or more is refused
// with "ERROR: Vector element value is too big (%d). Increase bytes/elem
// ratio." and 0 is returned; a negative value is written as the low n bytes
// of its two's complement. A write error gives "ERROR: unable to write to
// file." and the count so far.
VQPEEK_EXPORT int WriteIntegerToFile(FILE* stream, int value, int n);

// --- File names ------------------------------------------------------------

// Completes a name without extension with "." and `extension`, in place. A
// name whose last '.', '/' or '\\' is a '.' already has an extension and is
// left unchanged. A completion that would not fit in `capacity` bytes is not
// made.
VQPEEK_EXPORT void CheckFileName(char* name, const char* extension,
                                 std::size_t capacity = kFileNameSize);

// 1 when the text after the first '.' of `name` equals `extension` exactly.
VQPEEK_EXPORT int CheckExtention(const char* name, const char* extension);

// 1 when the names are equal regardless of letter case, else 0. Nothing else
// is normalised.
VQPEEK_EXPORT int EqualFileNames(const char* a, const char* b);

// Copies `source` into `destination` up to, not including, its first '.'.
// At most `capacity` - 1 characters are copied.
VQPEEK_EXPORT void PickFileName(const char* source, char* destination,
                                std::size_t capacity = kFileNameSize);

// --- Bit stream ------------------------------------------------------------
//
// Bits are packed most significant first within each byte; a value of n bits
// is sent least significant bit first. A stream of k bits occupies
// ceil(k/8) bytes, the unused low bits of the last byte being 0.
//
// A record is made ready by InitializeBitStream and then used in one
// direction. It does not own its stream and allocates nothing. An output
// record needs FlushOutput before its stream is closed, or the last partial
// byte is lost. Write errors are not detected.

struct BitStream {
  FILE* File = nullptr;
  // Output: bits collected in Buffer (0 to 7 between calls). Input: bits of
  // the current byte not yet delivered (0 to 7 between calls).
  int BitCount = 0;
  // Output: the collected bits, the first one highest. Input: the current
  // byte, shifted left once for every bit delivered, so that the next bit is
  // always bit 7; -1 after end of file.
  int Buffer = 0;
};

// Attaches `file` and empties the record.
VQPEEK_EXPORT void InitializeBitStream(BitStream* stream, FILE* file);

// Appends one bit; every eighth bit writes a byte. Requires `bit` to be 0 or
// 1: any other value fails the assertion "bit == 0 || bit == 1" and stops
// the process, in optimised builds as well.
VQPEEK_EXPORT void OutputBit(BitStream* stream, unsigned bit);

// Appends the `n` lowest bits of `value`, bit 0 first, as n calls of
// OutputBit would. For n above 32 the value is sign-extended: the extra bits
// are 1 for a negative value, 0 otherwise. n <= 0 writes nothing.
VQPEEK_EXPORT void OutputValue(BitStream* stream, int value, int n);

// Writes a pending partial byte, filled with 0 bits at the low end; with no
// pending bits writes nothing. Does not flush the stream.
VQPEEK_EXPORT void FlushOutput(BitStream* stream);

// The next bit, 0 or 1. At end of file (or a read error) writes "Unexpected
// EOF in input file." (no newline) and returns -1; the next call tries to
// read again.
VQPEEK_EXPORT int InputBit(BitStream* stream);

// Reads `n` bits, the first becoming bit 0 of the result. A bit past the end
// of the file counts as 1, with the message of InputBit for each. For n
// above 32 every bit is read but only the first 32 are kept. n <= 0 reads
// nothing and gives 0.
VQPEEK_EXPORT int InputValue(BitStream* stream, int n);

// Drops the rest of the current byte: the next read starts with bit 7 of
// the next byte.
VQPEEK_EXPORT void FlushInput(BitStream* stream);

#endif  // VQPEEK_FILE_H_
