// TextBuffer without a stream, and the direct writes of the fields, against
// printf.
#include "text_buffer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {

std::string Printf(const char* format, int width, int value) {
  char field[64];
  const int length = std::snprintf(field, sizeof field, format, width, value);
  return std::string(field, static_cast<std::size_t>(length));
}

TEST(TextBuffer, WithoutAStreamKeepsEverythingAndGrows) {
  TextBuffer text(std::size_t{3});
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    text.AppendInt(i * 7919 - 2000000, 9);
    text.AppendBlanks(i % 4);
    text.Append("|");
    expected += Printf("%*d", 9, i * 7919 - 2000000) + std::string(i % 4, ' ') + "|";
  }
  EXPECT_EQ(text.Text(), expected);
  text.Flush();  // nothing to write to: the text stays
  EXPECT_EQ(text.Text(), expected);
  text.Clear();
  EXPECT_EQ(text.Text(), "");
}

TEST(IntFields, PutWritesThePrintfFieldAndReturnsItsEnd) {
  for (const int width : {1, 3, 11}) {
    for (const bool blank : {false, true}) {
      const IntFields fields(width, blank);
      for (const int value : {0, 7, 1023, 1024, -1, INT_MAX, INT_MIN}) {
        char out[64];
        ASSERT_LE(fields.MaxWrite(), sizeof out);
        const char* end = fields.Put(out, value);
        const char* start = out;
        EXPECT_EQ(std::string(start, end), Printf("%*d", width, value) + (blank ? " " : ""))
            << "width " << width << ", value " << value;
      }
    }
  }
}

}  // namespace
