#include <climits>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"
#include "vqpeek/file.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

const char kEof[] = "Unexpected EOF in input file.";

std::string Bytes(FILE* stream) {
  std::fflush(stream);
  std::rewind(stream);
  std::string bytes;
  for (int c; (c = std::getc(stream)) != EOF;) bytes += static_cast<char>(c);
  return bytes;
}

// The bytes that `write` puts through a fresh output record, flushed at the
// end.
std::string Written(const std::function<void(BitStream*)>& write) {
  FILE* file = std::tmpfile();
  BitStream stream;
  InitializeBitStream(&stream, file);
  write(&stream);
  FlushOutput(&stream);
  const std::string bytes = Bytes(file);
  std::fclose(file);
  return bytes;
}

// A stream positioned at the start of `bytes`.
FILE* StreamOf(const std::string& bytes) {
  FILE* file = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  return file;
}

TEST(OutputBit, PacksMostSignificantFirstAndPadsWithZeros) {
  EXPECT_EQ(Written([](BitStream* s) {
              OutputBit(s, 1);
              OutputBit(s, 0);
              OutputBit(s, 1);
            }),
            "\xA0");
  EXPECT_EQ(Written([](BitStream* s) {
              for (const unsigned bit : {0, 1, 1, 1, 1, 1, 1, 0, 1}) OutputBit(s, bit);
            }),
            "\x7E\x80");
}

TEST(OutputValue, SendsLeastSignificantBitFirst) {
  EXPECT_EQ(Written([](BitStream* s) { OutputValue(s, 6, 3); }), "\x60");
  EXPECT_EQ(Written([](BitStream* s) { OutputValue(s, 511, 9); }), "\xFF\x80");
  // -2 is ...11111110: a 0 and then seven 1 bits.
  EXPECT_EQ(Written([](BitStream* s) { OutputValue(s, -2, 8); }), "\x7F");
  EXPECT_EQ(Written([](BitStream* s) { OutputValue(s, INT_MIN, 32); }),
            std::string("\x00\x00\x00\x01", 4));
}

TEST(OutputValue, BeyondThirtyTwoBitsExtendsTheSign) {
  EXPECT_EQ(Written([](BitStream* s) { OutputValue(s, -1, 40); }), std::string(5, '\xFF'));
  EXPECT_EQ(Written([](BitStream* s) { OutputValue(s, 1, 40); }),
            std::string("\x80\x00\x00\x00\x00", 5));
}

TEST(OutputValue, NothingForZeroOrNegativeWidth) {
  EXPECT_EQ(Written([](BitStream* s) {
              OutputValue(s, 255, 0);
              OutputValue(s, 255, -5);
            }),
            "");
}

TEST(FlushOutput, WritesNothingWithoutPendingBits) {
  FILE* file = std::tmpfile();
  BitStream stream;
  InitializeBitStream(&stream, file);
  FlushOutput(&stream);
  EXPECT_EQ(std::ftell(file), 0);
  OutputValue(&stream, 0xA5, 8);
  EXPECT_EQ(std::ftell(file), 1);  // the eighth bit wrote the byte at once
  FlushOutput(&stream);
  FlushOutput(&stream);
  EXPECT_EQ(stream.BitCount, 0);
  EXPECT_EQ(Bytes(file), "\xA5");
  std::fclose(file);
}

TEST(InputBit, ReadsMostSignificantFirstThenMinusOneAtEnd) {
  FILE* file = StreamOf("\xA0");
  BitStream stream;
  InitializeBitStream(&stream, file);
  std::vector<int> bits;
  for (int i = 0; i < 8; ++i) bits.push_back(InputBit(&stream));
  EXPECT_EQ(bits, (std::vector<int>{1, 0, 1, 0, 0, 0, 0, 0}));
  CaptureStderr();
  EXPECT_EQ(InputBit(&stream), -1);
  EXPECT_EQ(GetCapturedStderr(), kEof);
  std::fclose(file);
}

TEST(InputBit, EmptyFileReportsOnEveryCall) {
  FILE* file = StreamOf("");
  BitStream stream;
  InitializeBitStream(&stream, file);
  CaptureStderr();
  EXPECT_EQ(InputBit(&stream), -1);
  EXPECT_EQ(InputBit(&stream), -1);
  EXPECT_EQ(GetCapturedStderr(), std::string(kEof) + kEof);
  EXPECT_EQ(stream.BitCount, 0);
  EXPECT_EQ(stream.Buffer, -1);
  std::fclose(file);
}

TEST(InputValue, AssemblesFirstBitAsBitZero) {
  FILE* file = StreamOf("\x60");
  BitStream stream;
  InitializeBitStream(&stream, file);
  EXPECT_EQ(InputValue(&stream, 0), 0);
  EXPECT_EQ(InputValue(&stream, -3), 0);
  EXPECT_EQ(InputValue(&stream, 3), 6);
  EXPECT_EQ(InputValue(&stream, 5), 0);
  std::fclose(file);
}

TEST(InputValue, BitsPastTheEndAreSetWithOneMessageEach) {
  FILE* file = StreamOf(std::string(1, '\0'));
  BitStream stream;
  InitializeBitStream(&stream, file);
  for (int i = 0; i < 6; ++i) InputBit(&stream);
  CaptureStderr();
  EXPECT_EQ(InputValue(&stream, 4), 12);
  EXPECT_EQ(GetCapturedStderr(), std::string(kEof) + kEof);
  CaptureStderr();
  EXPECT_EQ(InputValue(&stream, 40), -1);  // the 32 bits kept are all set
  std::string forty;
  for (int i = 0; i < 40; ++i) forty += kEof;
  EXPECT_EQ(GetCapturedStderr(), forty);
  std::fclose(file);
}

TEST(InputValue, BeyondThirtyTwoBitsReadsAllAndKeepsTheFirst32) {
  FILE* file = StreamOf(std::string("\x00\x00\x00\x01\xFF\x80", 6));
  BitStream stream;
  InitializeBitStream(&stream, file);
  EXPECT_EQ(InputValue(&stream, 40), INT_MIN);
  EXPECT_EQ(InputBit(&stream), 1);  // bit 7 of the sixth byte
  EXPECT_EQ(InputBit(&stream), 0);
  std::fclose(file);
}

TEST(FlushInput, NextBitIsBitSevenOfTheNextByte) {
  FILE* file = StreamOf("\x7F\x55\x80");
  BitStream stream;
  InitializeBitStream(&stream, file);
  FlushInput(&stream);  // nothing to drop yet
  EXPECT_EQ(InputBit(&stream), 0);
  FlushInput(&stream);
  EXPECT_EQ(InputValue(&stream, 8), 0xAA);  // 0x55 read bit 7 first
  FlushInput(&stream);                      // at a byte boundary: drops nothing
  EXPECT_EQ(InputBit(&stream), 1);
  std::fclose(file);
}

// Writes random values and bits, checks the bytes against a plain packer of
// the expected bit sequence, then reads everything back.
TEST(BitStream, RandomRoundTripsMatchAPlainPacker) {
  const std::uint32_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  struct Item {
    int value;
    int n;  // 1 marks a single OutputBit
  };
  std::vector<Item> items;
  std::vector<int> bits;
  for (int i = 0; i < 2000; ++i) {
    const int value = static_cast<int>(random());
    const int n = static_cast<int>(random() % 44) - 3;
    items.push_back({value, n});
    for (int b = 0; b < n; ++b) bits.push_back(b < 32 ? (value >> b) & 1 : value < 0);
  }
  std::string expected((bits.size() + 7) / 8, '\0');
  for (std::size_t i = 0; i < bits.size(); ++i) {
    if (bits[i] != 0) expected[i / 8] = static_cast<char>(expected[i / 8] | (0x80 >> (i % 8)));
  }

  FILE* file = std::tmpfile();
  BitStream out;
  InitializeBitStream(&out, file);
  for (const Item& item : items) {
    if (item.n == 1) {
      OutputBit(&out, static_cast<unsigned>(item.value) & 1u);
    } else {
      OutputValue(&out, item.value, item.n);
    }
  }
  FlushOutput(&out);
  ASSERT_EQ(Bytes(file), expected);

  std::rewind(file);
  BitStream in;
  InitializeBitStream(&in, file);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Item& item = items[i];
    const std::uint32_t low = item.n >= 32 ? 0xFFFFFFFFu : item.n <= 0 ? 0u : (1u << item.n) - 1;
    const int want = static_cast<int>(static_cast<std::uint32_t>(item.value) & low);
    const int got = item.n == 1 ? InputBit(&in) : InputValue(&in, item.n);
    ASSERT_EQ(got, want) << "item " << i << " of " << item.n << " bits";
  }
  std::fclose(file);
}

TEST(OutputBitDeathTest, RejectsABitOtherThanZeroOrOne) {
  BitStream stream;
  InitializeBitStream(&stream, nullptr);
  EXPECT_DEATH(OutputBit(&stream, 2), "bit == 0 \\|\\| bit == 1");
}

}  // namespace
