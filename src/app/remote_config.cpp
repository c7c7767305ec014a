#include "app/remote_config.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstring>

#include "app/globals.h"
#include "app/run_log.h"
#include "platform/text.h"
#include "platform/url_opener.h"

namespace {

// The statistics query; key_name is UTF-8 "点击上报".
constexpr const char kReportPath[] =
    "/dss/statvx/?key_name=\xE7\x82\xB9\xE5\x87\xBB\xE4\xB8\x8A\xE6\x8A\xA5"
    "&c2=Quillane&c3=Quillane&d=game&t=2&v=1427160330";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A value is kept up to its first zero byte (an escaped %00 ends it).
void StoreDecoded(const char* value, std::string& target) {
  std::string decoded = UrlDecode(value);
  target.assign(decoded.c_str());
}

// TinyXML recurses once per nested element, without a limit: a deeply
// nested answer overflowed the stack. No configuration comes near this many
// tags, so the text is cut in front of the first tag past them.
constexpr std::size_t kMaxParsedTags = 4096;
// TinyXML steps over a UTF-8 sequence by the length its lead byte gives,
// without looking for the end: from a lead byte last in the text it lands up
// to three bytes past the terminating zero. These zeros are what it finds there.
constexpr std::size_t kParserPadding = 4;

// TinyXML compares every new attribute with all earlier ones of its
// element, so a long answer of attributes costs the square of its length
// (100000 of them held start-up for half a minute). A real answer is a few
// hundred bytes; the parser sees no more than this of it.
constexpr std::size_t kMaxParsedBytes = 16384;

std::string TextForParser(const std::string& text) {
  const std::size_t limit = std::min(text.size(), kMaxParsedBytes);
  std::size_t end = 0, tags = 0;
  while (end < limit && (text[end] != '<' || ++tags <= kMaxParsedTags)) ++end;
  std::string out(text, 0, end);
  out.append(kParserPadding, '\0');
  return out;
}

}  // namespace

std::string DefaultOfficialUrl() { return TOLVANE_OFFICIAL_URL; }
std::string DefaultReportUrl() { return DefaultOfficialUrl() + kReportPath; }
std::string DefaultConfigUrl() { return TOLVANE_CONFIG_URL; }

bool FetchUrlText(const std::string& url, std::string& text, long* pStatus) {
  return platform::OpenUrlText(url, g_strAppName, text, {}, pStatus);
}

std::string OpenedText(bool opened, long status, std::size_t bytes) {
  if (!opened) return status > 0 ? platform::Format("HTTP %ld, broken off", status) : "could not be opened";
  return platform::Format("HTTP %ld, %zu bytes", status, bytes);
}

std::string UrlDecode(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    int hi = i + 2 < value.size() ? HexValue(value[i + 1]) : -1;
    int lo = hi >= 0 ? HexValue(value[i + 2]) : -1;
    if (c == '%' && lo >= 0) {
      out += static_cast<char>(hi << 4 | lo);
      i += 2;
    } else if (c == '+') {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

void LoadRemoteConfig() { LoadRemoteConfig(DefaultConfigUrl()); }

void LoadRemoteConfig(const std::string& strConfigUrl) {
  g_strOfficialUrl = DefaultOfficialUrl();
  g_strReportUrl = DefaultReportUrl();

  std::string text;
  long status = 0;
  const bool opened = FetchUrlText(strConfigUrl, text, &status);
  RunLog& log = TheRunLog();
  log.Add("configuration: " + LoggedAddress(strConfigUrl) + ": " + OpenedText(opened, status, text.size()));
  if (opened) ApplyRemoteConfig(text);
  const auto shown = [](const std::string& url) { return url.empty() ? std::string("(none)") : url; };
  log.Add("  site: " + shown(LoggedAddress(g_strOfficialUrl)));
  log.Add("  update address: " + shown(LoggedAddress(g_strUpdateUrl)));
  log.Add("  report address: " + shown(LoggedAddressWithoutQuery(g_strReportUrl)));
}

void ApplyRemoteConfig(const std::string& text) {
  // The parser's error status is not consulted: whatever it built is searched.
  const std::string parsed = TextForParser(text);
  TiXmlDocument doc;
  doc.Parse(parsed.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
  TiXmlElement* root = doc.FirstChildElement();
  if (root == nullptr) return;
  TiXmlElement* url = root->FirstChildElement("url");
  if (url == nullptr) return;

  // A missing attribute leaves its string as it was.
  if (const char* v = url->Attribute("officialUrl")) StoreDecoded(v, g_strOfficialUrl);
  if (const char* v = url->Attribute("updateUrl")) StoreDecoded(v, g_strUpdateUrl);
  if (const char* v = url->Attribute("AdobeFlashUrl")) StoreDecoded(v, g_strReportUrl);
}
