#include <cstdio>
#include <string>

#include "test_support.h"
#include "vqpeek/file.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

// Writes with WriteIntegerToFile and returns the bytes of the file.
std::string WrittenBytes(int value, int width, int* count = nullptr, std::string* err = nullptr) {
  FILE* stream = std::tmpfile();
  CaptureStderr();
  const int written = WriteIntegerToFile(stream, value, width);
  const std::string messages = GetCapturedStderr();
  if (count != nullptr) *count = written;
  if (err != nullptr) *err = messages;
  std::rewind(stream);
  std::string bytes;
  for (int c; (c = std::getc(stream)) != EOF;) bytes += static_cast<char>(c);
  std::fclose(stream);
  return bytes;
}

// A stream positioned at the start of `bytes`.
FILE* StreamOf(const std::string& bytes) {
  FILE* stream = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::rewind(stream);
  return stream;
}

TEST(WriteIntegerToFile, WritesMostSignificantByteFirstAtEveryWidth) {
  EXPECT_EQ(WrittenBytes(255, 1), "\xFF");
  EXPECT_EQ(WrittenBytes(258, 2), std::string("\x01\x02", 2));
  EXPECT_EQ(WrittenBytes(65535, 2), "\xFF\xFF");
  EXPECT_EQ(WrittenBytes(0x010203, 3), std::string("\x01\x02\x03", 3));
  EXPECT_EQ(WrittenBytes(0x01020304, 4), std::string("\x01\x02\x03\x04", 4));
  EXPECT_EQ(WrittenBytes(0, 4), std::string(4, '\0'));
}

TEST(WriteIntegerToFile, RefusesValuesTooBigForNarrowFields) {
  int count = -1;
  std::string err;
  EXPECT_EQ(WrittenBytes(256, 1, &count, &err), "");
  EXPECT_EQ(count, 0);
  EXPECT_EQ(err, "ERROR: Vector element value is too big (256). Increase bytes/elem ratio.");
  EXPECT_EQ(WrittenBytes(65536, 2, &count), "");
  EXPECT_EQ(count, 0);
  EXPECT_EQ(WrittenBytes(1 << 24, 3, &count), "");
  EXPECT_EQ(count, 0);
  // Four bytes hold every value.
  EXPECT_EQ(WrittenBytes(2147483647, 4, &count), "\x7F\xFF\xFF\xFF");
  EXPECT_EQ(count, 4);
}

TEST(WriteIntegerToFile, WritesNegativeValuesAsTheirLowBytes) {
  EXPECT_EQ(WrittenBytes(-1, 1), "\xFF");
  EXPECT_EQ(WrittenBytes(-1, 2), "\xFF\xFF");
  EXPECT_EQ(WrittenBytes(-1, 4), "\xFF\xFF\xFF\xFF");
  EXPECT_EQ(WrittenBytes(-2147483647 - 1, 4), std::string("\x80\x00\x00\x00", 4));
}

TEST(ReadIntegerFromFile, ReadsEveryWidthAndNarrowFieldsAreNeverNegative) {
  struct Case {
    std::string bytes;
    int width;
    int expected;
  };
  const Case cases[] = {
      {"\xFF", 1, 255},
      {"\xFF\xFF", 2, 65535},
      {std::string("\x01\x02", 2), 2, 258},
      {"\xFF\xFF\xFF", 3, 16777215},
      {"\xFF\xFF\xFF\xFF", 4, -1},
      {std::string("\x80\x00\x00\x00", 4), 4, -2147483647 - 1},
      {"\x7F\xFF\xFF\xFF", 4, 2147483647},
  };
  for (const Case& c : cases) {
    FILE* stream = StreamOf(c.bytes);
    int value = 12345;
    EXPECT_EQ(ReadIntegerFromFile(stream, &value, c.width), c.width);
    EXPECT_EQ(value, c.expected) << "width " << c.width;
    std::fclose(stream);
  }
}

TEST(ReadIntegerFromFile, RoundTripsWithTheWriterForEveryWidth) {
  for (int width = 1; width <= 4; ++width) {
    const int largest = width == 4 ? 2147483647 : (1 << (8 * width)) - 1;
    for (const int value : {0, 1, 127, 128, 255, largest / 3, largest}) {
      FILE* stream = std::tmpfile();
      ASSERT_EQ(WriteIntegerToFile(stream, value, width), width);
      std::rewind(stream);
      int back = -7;
      EXPECT_EQ(ReadIntegerFromFile(stream, &back, width), width);
      EXPECT_EQ(back, value) << "width " << width;
      std::fclose(stream);
    }
  }
}

TEST(ReadIntegerFromFile, ShortReadStoresBytesSoFarFollowedByAZeroByte) {
  FILE* stream = StreamOf(std::string("\x01\x02", 2));
  int value = 0;
  CaptureStderr();
  EXPECT_EQ(ReadIntegerFromFile(stream, &value, 4), 2);
  EXPECT_EQ(GetCapturedStderr(), "ERROR: unable to read from file.");
  EXPECT_EQ(value, 0x010200);
  std::fclose(stream);
}

TEST(ReadIntegerFromFile, NonPositiveWidthReadsNothingAndStoresZero) {
  FILE* stream = StreamOf("\x05");
  int value = 9;
  EXPECT_EQ(ReadIntegerFromFile(stream, &value, 0), 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(ReadIntegerFromFile(stream, &value, -3), 0);
  EXPECT_EQ(std::getc(stream), 5);
  std::fclose(stream);
}

TEST(ReadLittleEndianIntegerFromFile, ReadsLeastSignificantByteFirst) {
  FILE* stream = StreamOf(std::string("\x02\x01\xFF\xFF\xFF\xFF\x07", 7));
  int value = 0;
  EXPECT_EQ(ReadLittleEndianIntegerFromFile(stream, &value, 2), 2);
  EXPECT_EQ(value, 258);
  EXPECT_EQ(ReadLittleEndianIntegerFromFile(stream, &value, 4), 4);
  EXPECT_EQ(value, -1);
  // One byte left for a 2-byte field: it keeps its place, the message once.
  CaptureStderr();
  EXPECT_EQ(ReadLittleEndianIntegerFromFile(stream, &value, 2), 1);
  EXPECT_EQ(GetCapturedStderr(), "ERROR: unable to read from file.");
  EXPECT_EQ(value, 7);
  std::fclose(stream);
}

}  // namespace
