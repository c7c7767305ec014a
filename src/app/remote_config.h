// The configuration service's three addresses, and the launch report.
#pragma once

#include <string>

// Appends the body at url, without its carriage returns and line feeds, to
// text. True when the URL could be opened, whatever its HTTP status, which
// *pStatus receives when given (0 when no answer came).
bool FetchUrlText(const std::string& url, std::string& text, long* pStatus = nullptr);

// What a log says of a text fetched so: its status and length, or why not.
std::string OpenedText(bool opened, long status, std::size_t bytes);

// Percent-decoding with '+' for a space. A '%' without two hexadecimal
// digits after it stays a literal '%'. The result may hold zero bytes.
std::string UrlDecode(const std::string& value);

// Sets g_strOfficialUrl and g_strReportUrl to their built-in defaults, then
// takes them and g_strUpdateUrl from the configuration service where its
// answer supplies them. Never fails.
void LoadRemoteConfig();
// The same, asking the service at strConfigUrl instead of the built-in one.
void LoadRemoteConfig(const std::string& strConfigUrl);

// Takes the addresses from a configuration answer's text: the attributes
// of the root element's first <url> child that are present, decoded and
// cut at their first zero byte. Leaves the strings alone otherwise.
void ApplyRemoteConfig(const std::string& text);

// The built-in addresses.
std::string DefaultOfficialUrl();
std::string DefaultReportUrl();
std::string DefaultConfigUrl();
