#include "platform/text.h"

#include <gtest/gtest.h>

using namespace platform;

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
