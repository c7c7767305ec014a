// The profile reader's rules, shared by the backends: the streaming
// scanner that the Linux reader and the fuzz target feed.
#include "platform/profile.h"

#include "platform/text.h"

namespace platform {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

}  // namespace

std::string FitProfileBuffer(std::string_view text, std::size_t nSize) {
  text = text.substr(0, nSize > 0 ? nSize - 1 : 0);
  return std::string(text.substr(0, text.find('\0')));
}

ProfileScanner::ProfileScanner(std::string_view section, std::string_view key, std::size_t nSize)
    : m_strSection(section), m_strKey(key), m_nSize(nSize) {}

void ProfileScanner::Feed(const char* data, std::size_t size) {
  for (std::size_t i = 0; i < size && m_state != State::kDone; ++i) {
    if (m_nBom < 3) {
      if (data[i] == kByteOrderMark[m_nBom]) {
        ++m_nBom;
        continue;
      }
      // Not a byte-order mark after all: what matched of it is text.
      const std::size_t matched = m_nBom;
      m_nBom = 3;
      for (std::size_t j = 0; j < matched; ++j) Byte(kByteOrderMark[j]);
    }
    Byte(data[i]);
  }
}

void ProfileScanner::BeginName() {
  m_strName.clear();
  m_nNameLength = 0;
  m_nNameSeen = 0;
}

// Keeps one byte more than the wanted name has: a longer name cannot match.
void ProfileScanner::NameByte(char c, std::size_t cap) {
  if (m_nNameSeen == 0 && IsBlank(c)) return;
  if (m_strName.size() < cap) m_strName += c;
  ++m_nNameSeen;
  if (!IsBlank(c)) m_nNameLength = m_nNameSeen;
}

bool ProfileScanner::KeyMatches() const {
  return m_nNameLength == m_strKey.size() && ToLower(std::string_view(m_strName).substr(0, m_nNameLength)) == ToLower(m_strKey);
}

void ProfileScanner::EndSection() {
  if (m_section == Section::kInside) {
    // The first section of the name ended without the key.
    m_section = Section::kPast;
    m_state = State::kDone;
    return;
  }
  if (m_nNameLength == m_strSection.size() &&
      ToLower(std::string_view(m_strName).substr(0, m_nNameLength)) == ToLower(m_strSection)) {
    m_section = Section::kInside;
  }
  m_state = State::kSkipLine;
}

void ProfileScanner::Byte(char c) {
  if (c == '\n') {
    if (m_state == State::kSection) EndSection();
    if (m_state == State::kValueStart || m_state == State::kValue) {
      m_bFound = true;
      m_state = State::kDone;
    }
    if (m_state != State::kDone) m_state = State::kLineStart;
    return;
  }
  switch (m_state) {
    case State::kLineStart:
      if (IsBlank(c)) return;
      BeginName();
      if (c == '[') {
        m_state = State::kSection;
        return;
      }
      m_state = State::kKey;
      [[fallthrough]];
    case State::kKey:
      if (c != '=') {
        NameByte(c, m_strKey.size() + 1);
      } else if (m_section == Section::kInside && KeyMatches()) {
        m_state = State::kValueStart;
      } else {
        m_state = State::kSkipLine;
      }
      return;
    case State::kSection:
      if (c == ']') EndSection();
      else NameByte(c, m_strSection.size() + 1);
      return;
    case State::kValueStart:
      if (IsBlank(c)) return;
      m_state = State::kValue;
      [[fallthrough]];
    case State::kValue:
      // One byte past the buffer, for a closing quote at its end.
      if (m_strValue.size() <= m_nSize) m_strValue += c;
      ++m_nValueSeen;
      if (!IsBlank(c)) {
        m_nValueLength = m_nValueSeen;
        m_cValueLast = c;
      }
      return;
    case State::kSkipLine:
    case State::kDone:
      return;
  }
}

bool ProfileScanner::Finish(std::string& value) {
  if (m_nBom < 3) {
    const std::size_t matched = m_nBom;
    m_nBom = 3;
    for (std::size_t j = 0; j < matched; ++j) Byte(kByteOrderMark[j]);
  }
  if (m_state != State::kDone) Byte('\n');  // a last line without its line feed
  if (!m_bFound) return false;
  std::string_view v(m_strValue);
  std::size_t length = m_nValueLength;
  if (length >= 2 && (v[0] == '"' || v[0] == '\'') && m_cValueLast == v[0]) {
    v.remove_prefix(1);
    length -= 2;
  }
  value = FitProfileBuffer(v.substr(0, length), m_nSize);
  return true;
}

}  // namespace platform
