// The INI (profile) file reader. Section and key names match without
// regard to ASCII case; the first line of a key in the first section of
// that name counts. A value is the text after the key's first '=', with
// surrounding blanks and one pair of enclosing quotes (' or ") removed, cut
// to the reader's buffer and at a zero byte. Lines end with LF or CRLF; a
// UTF-8 byte-order mark at the start is skipped. A section header runs from
// '[' to the first ']' (or the line end); a line without '=' holds no key.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// The value of key in section of the file at path, at most nSize - 1
// bytes (what a buffer of nSize bytes holds beside its terminating zero).
// def, cut alike, when the file (a regular file), the section or the key
// is missing. Memory stays the same for any size of file or line. On
// Windows the system's GetPrivateProfileStringA reads it, by its own rules
// (the ones above are modelled on them); a relative path counts from the
// current directory there too.
std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view def,
                                    std::size_t nSize, const std::string& path);

// What a buffer of nSize bytes holds of text: at most nSize - 1 bytes, and
// nothing from a zero byte on, as a C string would hold it.
std::string FitProfileBuffer(std::string_view text, std::size_t nSize);

// The reader behind it on Linux, fed with the file's bytes in pieces of any size.
class ProfileScanner {
 public:
  ProfileScanner(std::string_view section, std::string_view key, std::size_t nSize);
  void Feed(const char* data, std::size_t size);
  // Nothing further can change the outcome.
  bool IsDone() const { return m_state == State::kDone; }
  // After the last piece: true, and the value, when the key was found.
  bool Finish(std::string& value);

 private:
  enum class State { kLineStart, kSection, kKey, kValueStart, kValue, kSkipLine, kDone };
  enum class Section { kBefore, kInside, kPast };

  void Byte(char c);
  void EndSection();
  bool KeyMatches() const;
  void BeginName();
  void NameByte(char c, std::size_t cap);

  std::string m_strSection;
  std::string m_strKey;
  std::size_t m_nSize;

  std::size_t m_nBom = 0;  // bytes of the byte-order mark matched so far; 3 when past it
  State m_state = State::kLineStart;
  Section m_section = Section::kBefore;
  bool m_bFound = false;

  // The section or key name of the current line: its first bytes and the
  // length up to its last non-blank byte.
  std::string m_strName;
  std::size_t m_nNameLength = 0;
  std::size_t m_nNameSeen = 0;

  // The value: its first nSize + 1 bytes, the length up to its last
  // non-blank byte, and that byte.
  std::string m_strValue;
  std::size_t m_nValueLength = 0;
  std::size_t m_nValueSeen = 0;
  char m_cValueLast = 0;
};

}  // namespace platform
