#include <cstring>
#include <string>

#include "test_support.h"
#include "vqpeek/cb.h"

namespace {

TEST(SetVerString, WritesTheKindNameAndVersion) {
  const struct {
    int kind;
    const char* text;
  } cases[] = {{kTrainingSetFile, "VQ TRAINING SET 2.0"},
               {kCodebookFile, "VQ CODEBOOK 2.0"},
               {kPartitioningFile, "VQ PARTITIONING 2.0"}};
  for (const auto& c : cases) {
    char text[kTextFieldSize];
    std::memset(text, 'x', sizeof text);
    SetVerString(text, c.kind);
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(RecognizeVersionstr(text), c.kind);
  }
}

TEST(SetVerStringDeathTest, RefusesOtherKinds) {
  for (const int kind : {0, 4, -1}) {
    char text[kTextFieldSize] = {};
    EXPECT_FATAL(SetVerString(text, kind), "ERROR: Unknown file type (SetVersionString)\n")
        << "kind " << kind;
  }
}

TEST(RecognizeVersionstr, ComparesOnlyTheCaseSensitivePrefix) {
  const struct {
    const char* text;
    int kind;
  } cases[] = {
      {"VQ CODEBOOK", kCodebookFile},
      {"VQ CODEBOOKS of any version 9", kCodebookFile},
      {"VQ TRAINING SET 1.0", kTrainingSetFile},
      {"VQ TRAINING SETTING", kTrainingSetFile},
      {"VQ PARTITIONING", kPartitioningFile},
      {"VQ CODEBOO", kNotRecognized},
      {"VQ TRAINING SE", kNotRecognized},
      {"vq codebook 2.0", kNotRecognized},
      {"VQ Codebook 2.0", kNotRecognized},
      {" VQ CODEBOOK 2.0", kNotRecognized},
      {"VQ  CODEBOOK", kNotRecognized},
      {"", kNotRecognized},
  };
  for (const auto& c : cases) EXPECT_EQ(RecognizeVersionstr(c.text), c.kind) << c.text;
}

TEST(ClearString, MakesTheTextEmpty) {
  char text[] = "something";
  ClearString(text);
  EXPECT_STREQ(text, "");
}

TEST(AddString, AppendsAndKeepsTheTerminatorWithinTheLimit) {
  const struct {
    const char* text;
    const char* addition;
    int limit;
    const char* joined;
  } cases[] = {
      {"abc", "de", 10, "abcde"},
      {"", "", 10, ""},
      {"abc", "defghi", 10, "abcdefghi"},     // 9 characters: fits
      {"abc", "defghij", 10, "abcdefghi"},    // 10 characters: cut to 9
      {"abcdefghi", "xyz", 10, "abcdefghi"},  // already full
      {"", "0123456789", 10, "012345678"},    // an addition of exactly `limit`
      {"", "a", 1, ""},
  };
  for (const auto& c : cases) {
    // Guard bytes after the `limit` bytes must stay untouched.
    char text[16];
    std::memset(text, '#', sizeof text);
    std::strcpy(text, c.text);
    AddString(text, c.addition, c.limit);
    EXPECT_STREQ(text, c.joined) << c.text << " + " << c.addition;
    for (int i = c.limit; i < static_cast<int>(sizeof text); ++i) {
      EXPECT_EQ(text[i], '#') << "byte " << i;
    }
  }
}

TEST(AddStringDeathTest, RefusesAnAdditionLongerThanTheLimit) {
  char text[kTextFieldSize] = "start";
  EXPECT_FATAL(AddString(text, "abcdef", 5), "ERROR: string too long:\nabcdef\n");
  // The limit is the field width of the text: a negative one pads on the
  // right.
  EXPECT_FATAL(AddString(text, "ab", -6), "ERROR: string too long:\nab    \n");
}

}  // namespace
