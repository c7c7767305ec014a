#include "platform/text.h"

#include <gtest/gtest.h>

#include <clocale>

#include "support/support.h"

using namespace platform;

using testing_support::ScopedLocale;

TEST(Text, FindAndReverseFindInUtf8) {
  ScopedLocale loc("C.UTF-8");
  ASSERT_TRUE(loc.ok());
  const std::string s = "a/\xE7\x82\xB9/b.c.d";
  EXPECT_EQ(MbFind(s, '/'), 1u);
  EXPECT_EQ(MbFind(s, '/', 2), 5u);
  EXPECT_EQ(MbReverseFind(s, '/'), 5u);
  EXPECT_EQ(MbReverseFind(s, '.'), 9u);
  EXPECT_EQ(MbReverseFind(s, 'x'), npos);
  EXPECT_EQ(MbFind(s, "b.c"), 6u);
  EXPECT_EQ(MbReverseFindOneOf("x\\y/z", "/\\"), 3u);
  EXPECT_EQ(MbReverseFindOneOf("x\\yz", "/\\"), 1u);
}

TEST(Text, InvalidSequenceCountsAsOneByte) {
  ScopedLocale loc("C.UTF-8");
  ASSERT_TRUE(loc.ok());
  // A lone lead byte and a cut-short sequence must not swallow the '/'.
  EXPECT_EQ(MbFind("\xE7/x", '/'), 1u);
  EXPECT_EQ(MbReverseFind("ab\xE7\x82/", '/'), 4u);
  EXPECT_EQ(MbCharLength("\xE7\x82\xB9", 0), 3u);
  EXPECT_EQ(MbCharLength(std::string_view("\0x", 2), 0), 1u);
}

TEST(Text, TrailByteIsNotASeparatorInDoubleByteLocale) {
  testing_support::ScopedGbkLocale loc;
  if (!loc.ok()) GTEST_SKIP() << loc.error();
  ASSERT_EQ(MB_CUR_MAX, 2u);
  // 0x81 0x5C is one character whose trail byte is a backslash.
  const std::string s = "a\x81\x5C" "b";
  EXPECT_EQ(MbReverseFind(s, '\\'), npos);
  EXPECT_EQ(ToLower("\x81\x41" "A"), "\x81\x41" "a");
}

TEST(Text, EscapeControlsForTheTerminal) {
  using namespace std::string_literals;
  ScopedLocale loc("C.UTF-8");
  ASSERT_TRUE(loc.ok());
  struct Case { std::string in, out; };
  const Case cases[] = {
      {"dir/plain name.txt", "dir/plain name.txt"},
      {"a\x1b]0;title\x07" "b\x1b[2J", "a\\x1b]0;title\\x07b\\x1b[2J"},
      {"\t\r\n\x7f", "\\x09\\x0d\\x0a\\x7f"},
      {"a\0b"s, "a\\x00b"},
      {"\xE7\x82\xB9.txt", "\xE7\x82\xB9.txt"},    // a character of the locale
      {"\xC2\x9B" "1m", "\\xc2\\x9b1m"},           // U+009B, the C1 control sequence introducer
      {"\x9B" "1m\xFF", "\\x9b1m\\xff"},           // bytes that are no character
      {"x\xE7\x82", "x\\xe7\\x82"},                // cut short at the end
      {"back\\slash", "back\\slash"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeControls(c.in), c.out) << c.out;
}
