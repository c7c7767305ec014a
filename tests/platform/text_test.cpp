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

TEST(Text, LowerTouchesAsciiLettersOnly) {
  EXPECT_EQ(ToLower("Content-LENGTH: 12\xC3\x84"), "content-length: 12\xC3\x84");
}

TEST(Text, Trim) {
  struct Case { const char* in; const char* both; const char* left; const char* right; };
  const Case cases[] = {
      {"", "", "", ""},
      {" \t\r\n\v\f", "", "", ""},
      {"  a b  ", "a b", "a b  ", "  a b"},
      {"x", "x", "x", "x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Trim(c.in), c.both) << '"' << c.in << '"';
    EXPECT_EQ(TrimLeft(c.in), c.left) << '"' << c.in << '"';
    EXPECT_EQ(TrimRight(c.in), c.right) << '"' << c.in << '"';
  }
}

TEST(Text, FormatGrowsPastItsFirstBuffer) {
  EXPECT_EQ(Format("%s*%d", "a", -5), "a*-5");
  std::string big(1000, 'x');
  EXPECT_EQ(Format("<%s>", big.c_str()), "<" + big + ">");
}

TEST(Text, AtoIReadsLikeTheCLibrary) {
  struct Case { const char* in; int out; };
  const Case cases[] = {
      {"", 0}, {"abc", 0}, {"  7", 7}, {"3x", 3}, {"-3", -3}, {"+12", 12},
      {"- 3", 0}, {"\t42 ", 42}, {"65616", 65616}, {"4294967297", 1},
  };
  for (const Case& c : cases) EXPECT_EQ(AtoI(c.in), c.out) << '"' << c.in << '"';
  EXPECT_EQ(AtoI(std::string_view("12345", 2)), 12);  // the view ends before the rest
}
