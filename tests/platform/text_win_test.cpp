// The text helpers in the ANSI code page. Under Wine the code page follows
// LC_ALL: ja_JP.UTF-8 gives 932, C.UTF-8 gives 1252.
#include "platform/text.h"

#include <gtest/gtest.h>

#include "platform/windows_api.h"

#include <string>

using namespace platform;
using namespace std::string_literals;

namespace {

bool IsDoubleByteCodePage() {
  CPINFO info{};
  return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 2;
}

// U+3042 (hiragana a) in the code page: a character of two bytes in each
// of the East Asian ones.
std::string TwoByteCharacter() {
  char bytes[4] = {};
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, 0, L"\u3042", 1, bytes, sizeof bytes, nullptr, &lossy);
  return n == 2 && !lossy ? std::string(bytes, 2) : std::string();
}

char FirstLeadByte() {
  for (int b = 0x81; b < 0x100; ++b) {
    if (IsDBCSLeadByte(static_cast<BYTE>(b))) return static_cast<char>(b);
  }
  return 0;
}

}  // namespace

TEST(AnsiCodePage, TrailByteIsNotASeparator) {
  if (!IsDoubleByteCodePage()) GTEST_SKIP() << "code page " << GetACP() << " has no double-byte characters";
  const char lead = FirstLeadByte();
  ASSERT_NE(lead, 0);
  // A character whose trail byte is a backslash, as in "\x95\x5C" of 932.
  const std::string s = "a"s + lead + "\\b";
  EXPECT_EQ(MbCharLength(s, 1), 2u);
  EXPECT_EQ(MbFind(s, '\\'), npos);
  EXPECT_EQ(MbReverseFind(s, '\\'), npos);
  EXPECT_EQ(MbReverseFindOneOf(s + "/x", "/\\"), 4u);
  EXPECT_EQ(MbReplace(s, '\\', '/'), s);
  EXPECT_EQ(ToLower(lead + "AA"s), lead + "Aa"s);
  // A lead byte cut short at the end is one byte.
  EXPECT_EQ(MbCharLength("x"s + lead, 1), 1u);
  EXPECT_EQ(MbCharLength(lead + "\0"s, 0), 1u);
  const std::string kana = TwoByteCharacter();
  ASSERT_EQ(kana.size(), 2u);
  EXPECT_EQ(EscapeControls(kana + ".txt"), kana + ".txt");
}

TEST(AnsiCodePage, EscapeControlsInWindows1252) {
  if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"dir\\plain name.txt", "dir\\plain name.txt"},
      {"\t\r\n\x7f", "\\x09\\x0d\\x0a\\x7f"},
      {"a\0b"s, "a\\x00b"},
      {"\x1b[2J", "\\x1b[2J"},
      {"caf\xE9 \x80 \x9B" "1m", "caf\xE9 \x80 \x9B" "1m"},  // e acute, euro, and a quotation mark: characters here
      {"\x81\x8D", "\\x81\\x8d"},                           // no characters of the code page
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeControls(c.in), c.out) << c.out;
  // A single-byte code page: UTF-8 bytes are characters each.
  EXPECT_EQ(MbCharLength("\xE7\x82\xB9", 0), 1u);
  EXPECT_EQ(MbReverseFind("\xE7\x5C", '\\'), 1u);
}
