#include <cstring>
#include <string>

#include "test_support.h"
#include "vqpeek/file.h"

namespace {

std::string Completed(const std::string& name, const char* extension,
                      std::size_t capacity = kFileNameSize) {
  char buffer[kFileNameSize + 8];
  std::memset(buffer, '#', sizeof buffer);
  std::strcpy(buffer, name.c_str());
  CheckFileName(buffer, extension, capacity);
  // Nothing beyond the capacity is touched.
  for (std::size_t i = capacity; i < sizeof buffer; ++i) {
    if (i > name.size()) {
      EXPECT_EQ(buffer[i], '#') << "byte " << i;
    }
  }
  return buffer;
}

TEST(CheckFileName, CompletesOnlyNamesWithoutExtension) {
  EXPECT_EQ(Completed("set", "ts"), "set.ts");
  EXPECT_EQ(Completed("set.cb", "ts"), "set.cb");
  EXPECT_EQ(Completed("dir.old/set", "ts"), "dir.old/set.ts");
  EXPECT_EQ(Completed("dir\\set", "ts"), "dir\\set.ts");
  EXPECT_EQ(Completed("set.", "ts"), "set.");
  EXPECT_EQ(Completed("a.b/c.d", "ts"), "a.b/c.d");
  EXPECT_EQ(Completed("", "pa"), ".pa");
}

TEST(CheckFileName, NeverWritesPastTheCapacity) {
  const std::string fits(76, 'n');  // 76 + ".ts" + NUL = 80
  EXPECT_EQ(Completed(fits, "ts"), fits + ".ts");
  const std::string tooLong(77, 'n');
  EXPECT_EQ(Completed(tooLong, "ts"), tooLong);
  EXPECT_EQ(Completed("abc", "ts", 6), "abc");
  EXPECT_EQ(Completed("abc", "ts", 7), "abc.ts");
}

TEST(CheckExtention, ComparesEverythingAfterTheFirstDot) {
  EXPECT_EQ(CheckExtention("set.ts", "ts"), 1);
  EXPECT_EQ(CheckExtention("set.TS", "ts"), 0);
  EXPECT_EQ(CheckExtention("set", "ts"), 0);
  EXPECT_EQ(CheckExtention("a.b.c", "b.c"), 1);
  EXPECT_EQ(CheckExtention("a.b.c", "c"), 0);
  EXPECT_EQ(CheckExtention("set.", ""), 1);
}

TEST(EqualFileNames, IgnoresLetterCaseAndNothingElse) {
  EXPECT_EQ(EqualFileNames("data.ts", "DATA.TS"), 1);
  EXPECT_EQ(EqualFileNames("./data.ts", "data.ts"), 0);
  EXPECT_EQ(EqualFileNames("data.ts", "data.tsx"), 0);
  EXPECT_EQ(EqualFileNames("data", "data.ts"), 0);
  EXPECT_EQ(EqualFileNames("", ""), 1);
  EXPECT_EQ(EqualFileNames("a", ""), 0);
}

TEST(PickFileName, CutsAtTheFirstDotWithinTheCapacity) {
  char buffer[kFileNameSize];
  PickFileName("set.ts", buffer);
  EXPECT_STREQ(buffer, "set");
  PickFileName("dir.old/set.ts", buffer);
  EXPECT_STREQ(buffer, "dir");
  PickFileName("plain", buffer);
  EXPECT_STREQ(buffer, "plain");
  const std::string longName(200, 'x');
  PickFileName(longName.c_str(), buffer);
  EXPECT_EQ(std::string(buffer), std::string(kFileNameSize - 1, 'x'));
  char small[4];
  PickFileName("abcdef.ts", small, sizeof small);
  EXPECT_STREQ(small, "abc");
}

}  // namespace
