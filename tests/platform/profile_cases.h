// The profile reader's cases, read by the scanner on both builds and by
// the file reader of the Linux build.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct ProfileCase {
  const char* what;
  std::string text;
  std::string expected;  // kProfileDefault when the default comes back
  std::string key = "versionNum";
  std::size_t nSize = 16;
  std::string section = "update";
};

inline const char kProfileDefault[] = "<default>";

// What a buffer of the case's size holds of the expected value.
inline std::string ExpectedValue(const ProfileCase& c) { return c.expected.substr(0, c.nSize ? c.nSize - 1 : 0); }

// Names, lines and blanks.
inline const std::vector<ProfileCase>& ProfileNameCases() {
  static const std::vector<ProfileCase> cases = {
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
      {"key of another section", "[other]\nversionNum=2\n[update]\nGameUrl=x\n", kProfileDefault},
      {"key before any section", "versionNum=2\n[update]\n", kProfileDefault},
      {"only the first section of the name", "[update]\nGameUrl=x\n[update]\nversionNum=2\n", kProfileDefault},
      {"key after the section", "[update]\n[more]\nversionNum=2\n", kProfileDefault},
      {"a longer key", "[update]\nversionNumber=2\n", kProfileDefault},
      {"a shorter key", "[update]\nversion=2\n", kProfileDefault},
      {"a key with a blank inside", "[update]\nversion Num=2\n", kProfileDefault},
      {"a longer section", "[updates]\nversionNum=2\n", kProfileDefault},
      {"a line without '='", "[update]\nversionNum 2\nversionNum\n", kProfileDefault},
      {"a lone CR ends no line", "[update]\rversionNum=2\n", kProfileDefault},
      {"missing key", "[update]\nGameUrl=x\n", kProfileDefault},
      {"empty file", "", kProfileDefault},
      {"byte-order mark", "\xEF\xBB\xBF[update]\nversionNum=2\n", "2"},
      {"half a byte-order mark is text", "\xEF\xBB[update]\nversionNum=2\n", kProfileDefault},
      {"a byte-order mark later is text", "\n\xEF\xBB\xBF[update]\nversionNum=2\n", kProfileDefault},
      {"only a byte-order mark", "\xEF\xBB\xBF", kProfileDefault},
      {"a key right after the mark", "\xEF\xBBversionNum=2", kProfileDefault},
      {"a zero byte ends the value", std::string("[update]\nversionNum=2\0 3\n", 25), "2"},
      {"a long line before", std::string(3 << 20, 'x') + "\n[update]\nversionNum=2\n", "2"},
      {"a long key before", "[update]\n" + std::string(1 << 20, 'k') + "=1\nversionNum=2\n", "2"},
      {"a long header before", "[" + std::string(1 << 20, 's') + "]\n[update]\nversionNum=2\n", "2"},
      {"multibyte names", "[\xE7\x82\xB9]\nversionNum=\xE5\x87\xBB\n", "\xE5\x87\xBB", "versionNum", 16, "\xE7\x82\xB9"},
  };
  return cases;
}

// Quotes and the buffer.
inline const std::vector<ProfileCase>& ProfileQuoteCases() {
  const std::string long600(600, 'a');
  static const std::vector<ProfileCase> cases = {
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
  return cases;
}
