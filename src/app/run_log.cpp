#include "app/run_log.h"

#include <algorithm>
#include <string_view>

#include "fs/paths.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/text.h"
#include "platform/thread.h"

void RunLog::Add(const std::string& text) {
  std::string line = platform::EscapeControls(text);
  if (line.size() > kMaxLine) line.replace(kMaxLine, std::string::npos, "...");
  line += '\n';
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_bCut) return;
  if (m_strText.size() + line.size() > kMaxText) {
    m_strText += "(the log is cut here)\n";
    m_bCut = true;
    return;
  }
  m_strText += line;
}

std::string RunLog::Text() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_strText;
}

bool RunLog::Save(const std::string& path) const {
  if (path.empty()) return false;
  const std::size_t sep = platform::ReverseFindSeparator(path);
  if (sep != platform::npos) CreateDirectoryTree(path.substr(0, sep));
  // Another launcher may be saving its own log at the same time: each
  // writes a file of its own, and the last one in place wins.
  const std::string temp =
      platform::Format("%s.%u.new", path.c_str(), platform::CurrentThreadId() ^ static_cast<unsigned>(platform::CurrentTime()));
  const std::string text = Text();
  const platform::FileHandle file = platform::CreateFileForWriting(temp, 0600);
  if (file == platform::kNoFile) return false;
  const bool written = platform::WriteFileAll(file, text.data(), text.size());
  platform::CloseFile(file);
  // A log cut short by a full disk would replace a whole one.
  if (!written) {
    platform::DeleteOneFile(temp);
    return false;
  }
  if (IsExistingFile(path.c_str())) platform::ReplaceFile(path, path + ".1");
  if (platform::ReplaceFile(temp, path)) return true;
  platform::DeleteOneFile(temp);
  return false;
}

RunLog& TheRunLog() {
  static RunLog log;
  return log;
}

std::string LoggedAddress(const std::string& url) {
  // Without a scheme the address starts with its authority, as the
  // download client reads it.
  const std::size_t scheme = url.find("://");
  const bool hasScheme = scheme != std::string::npos && url.find_first_of("/?#") > scheme;
  const std::size_t start = hasScheme ? scheme + 3 : 0;
  const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
  const std::size_t at = std::string_view(url).substr(start, end - start).rfind('@');
  if (at == std::string::npos) return url;
  return url.substr(0, start) + url.substr(start + at + 1);
}

std::string LoggedAddressWithoutQuery(const std::string& url) {
  const std::string shown = LoggedAddress(url);
  return shown.substr(0, shown.find_first_of("?#"));
}
