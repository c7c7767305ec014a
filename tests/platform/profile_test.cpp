#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/support.h"

using namespace platform;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

struct Case {
  const char* what;
  std::string text;
  std::string expected;  // "<default>" when the default comes back
  std::string key = "versionNum";
  std::size_t nSize = 16;
  std::string section = "update";
};

const char kDefault[] = "<default>";

// Every case is read from a file, and fed to the scanner one byte at a time
// and in pieces of 7, so that no state is lost at a piece's end.
void Check(const Case& c) {
  TempDir t;
  WriteFile(t / "update.ini", c.text);
  EXPECT_EQ(GetPrivateProfileString(c.section, c.key, kDefault, c.nSize, t / "update.ini"),
            c.expected.substr(0, c.nSize ? c.nSize - 1 : 0))
      << c.what;
  for (std::size_t piece : {std::size_t{1}, std::size_t{7}}) {
    ProfileScanner s(c.section, c.key, c.nSize);
    for (std::size_t pos = 0; pos < c.text.size() && !s.IsDone(); pos += piece)
      s.Feed(c.text.data() + pos, std::min(piece, c.text.size() - pos));
    std::string value;
    std::string got = s.Finish(value) ? value : kDefault;
    EXPECT_EQ(got, c.expected.substr(0, c.nSize ? c.nSize - 1 : 0)) << c.what << ", pieces of " << piece;
  }
}

}  // namespace

TEST(Profile, NamesLinesAndBlanks) {
  const Case cases[] = {
      {"plain", "[update]\nversionNum=2\n", "2"},
      {"names in other case", "[UpDaTe]\nVERSIONNUM=2\n", "2"},
      {"CRLF", "[update]\r\nGameUrl=http://h/g.zip\r\nversionNum=2\r\n", "2"},
      {"blanks around everything", "  [ update ]  \n \t versionNum \t=   7  \t\n", "7"},
      {"blanks inside a value stay", "[update]\nversionNum= 1 2 \n", "1 2"},
      {"no final line feed", "[update]\nversionNum=3x", "3x"},
      {"empty value", "[update]\nversionNum=\nversionNum=5\n", ""},
      {"blank value", "[update]\nversionNum=  \t\r\n", ""},
      {"'=' inside the value", "[update]\nGameUrl=http://h/a?b=c&d==\n", "http://h/a?b=c&d==", "GameUrl", 512},
      {"first key wins", "[update]\nversionNum=2\nversionNum=3\n", "2"},
      {"header with text behind it", "[update] ; the manifest\nversionNum=2\n", "2"},
      {"header without ']'", "[update\nversionNum=2\n", "2"},
      {"key of another section", "[other]\nversionNum=2\n[update]\nGameUrl=x\n", kDefault},
      {"key before any section", "versionNum=2\n[update]\n", kDefault},
      {"only the first section of the name", "[update]\nGameUrl=x\n[update]\nversionNum=2\n", kDefault},
      {"key after the section", "[update]\n[more]\nversionNum=2\n", kDefault},
      {"a longer key", "[update]\nversionNumber=2\n", kDefault},
      {"a shorter key", "[update]\nversion=2\n", kDefault},
      {"a key with a blank inside", "[update]\nversion Num=2\n", kDefault},
      {"a longer section", "[updates]\nversionNum=2\n", kDefault},
      {"a line without '='", "[update]\nversionNum 2\nversionNum\n", kDefault},
      {"a lone CR ends no line", "[update]\rversionNum=2\n", kDefault},
      {"missing key", "[update]\nGameUrl=x\n", kDefault},
      {"empty file", "", kDefault},
      {"byte-order mark", "\xEF\xBB\xBF[update]\nversionNum=2\n", "2"},
      {"half a byte-order mark is text", "\xEF\xBB[update]\nversionNum=2\n", kDefault},
      {"a byte-order mark later is text", "\n\xEF\xBB\xBF[update]\nversionNum=2\n", kDefault},
      {"only a byte-order mark", "\xEF\xBB\xBF", kDefault},
      {"a key right after the mark", "\xEF\xBBversionNum=2", kDefault},
      {"a zero byte ends the value", std::string("[update]\nversionNum=2\0 3\n", 25), "2"},
      {"a long line before", std::string(3 << 20, 'x') + "\n[update]\nversionNum=2\n", "2"},
      {"a long key before", "[update]\n" + std::string(1 << 20, 'k') + "=1\nversionNum=2\n", "2"},
      {"a long header before", "[" + std::string(1 << 20, 's') + "]\n[update]\nversionNum=2\n", "2"},
      {"multibyte names", "[\xE7\x82\xB9]\nversionNum=\xE5\x87\xBB\n", "\xE5\x87\xBB", "versionNum", 16, "\xE7\x82\xB9"},
  };
  for (const Case& c : cases) Check(c);
}

TEST(Profile, QuotesAndTheBuffer) {
  const std::string long600(600, 'a');
  const Case cases[] = {
      {"double quotes", "[update]\nversionNum=\"  7 \"\n", "  7 "},
      {"single quotes", "[update]\nversionNum='2'\n", "2"},
      {"quotes inside blanks", "[update]\nversionNum=  \"2\"  \r\n", "2"},
      {"one pair only", "[update]\nversionNum=\"\"2\"\"\n", "\"2\""},
      {"empty quotes", "[update]\nversionNum=\"\"\n", ""},
      {"a lone quote", "[update]\nversionNum=\"\n", "\""},
      {"quotes that differ", "[update]\nversionNum=\"2'\n", "\"2'"},
      {"an opening quote only", "[update]\nversionNum=\"2\n", "\"2"},
      {"cut to the buffer", "[update]\nGameUrl=" + long600 + "\n", long600, "GameUrl", 512},
      {"cut after the quotes go", "[update]\nGameUrl=\"" + long600 + "\"\n", long600, "GameUrl", 512},
      {"a closing quote just past the buffer", "[update]\nversionNum=\"123456789012345\"\n", "123456789012345"},
      {"a closing quote just inside", "[update]\nversionNum=\"12345678901234\"\n", "12345678901234"},
      {"16 bytes, 15 kept", "[update]\nversionNum=1234567890123456\n", "1234567890123456"},
      {"a buffer of one byte", "[update]\nversionNum=2\n", "", "versionNum", 1},
      {"a buffer of none", "[update]\nversionNum=2\n", "", "versionNum", 0},
  };
  for (const Case& c : cases) Check(c);
}

TEST(Profile, DefaultWhenNoFileCanBeRead) {
  TempDir t;
  EXPECT_EQ(GetPrivateProfileString("update", "versionNum", "0", 16, t / "missing.ini"), "0");
  // Only a regular file is read: a directory or a FIFO gives the default.
  EXPECT_EQ(GetPrivateProfileString("update", "versionNum", "0", 16, t.path()), "0");
  // The default is cut to the buffer as a value would be.
  EXPECT_EQ(GetPrivateProfileString("update", "GameUrl", "abcdef", 4, t / "missing.ini"), "abc");
  EXPECT_EQ(GetPrivateProfileString("update", "GameUrl", std::string("a\0b", 3), 4, t / "missing.ini"), "a");
  EXPECT_EQ(GetPrivateProfileString("update", "GameUrl", "abc", 0, t / "missing.ini"), "");
  ASSERT_EQ(mkfifo((t / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(GetPrivateProfileString("update", "versionNum", "0", 16, t / "fifo"), "0");
}
