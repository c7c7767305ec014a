// tolvane-fetch [OPTIONS] URL FILE   downloads URL into FILE with the download session
// Exit status: the download's result (0 done, 2 stopped, 3 failed, 4 not
// found), 64 for a usage error.
#include <atomic>
#include <charconv>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "download/download.h"
#include "net/sock.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/text.h"
#include "platform/tls.h"

namespace {

constexpr int kExitUsage = 64;
constexpr std::uint32_t kNoticeMessage = 1;

const char kUsage[] =
    "usage: tolvane-fetch [OPTIONS] URL FILE\n"
    "  --proxy KIND://HOST:PORT      KIND: http, socks4, socks4a, socks5\n"
    "  --proxy-user USER:PASSWORD    credentials for the proxy\n"
    "  --user USER:PASSWORD          Basic credentials for the server\n"
    "  --cacert FILE                 trust the PEM certificates in FILE instead of the system's\n"
    "  --connect-timeout MS          limit of each connect (-1: none; default 10000)\n"
    "  --receive-timeout MS          limit of each receive (-1: none; default 10000)\n"
    "  --send-timeout MS             limit of each send (-1: none; default 10000)\n"
    "  --retry-mode N                0 no retries, 1 at most --max-retries, 2 without limit\n"
    "  --max-retries N               retry limit of mode 1\n"
    "  --retry-delay MS              pause before each retry\n"
    "  --user-agent TEXT             User-Agent header\n"
    "  --referer URL                 Referer header\n"
    "  --no-resume                   after a broken transfer, start again from zero\n"
    "  --seed N                      temporary file FILE.downN (default FILE.down)\n"
    "  --mutex-prefix TEXT           first part of the per-file mutex name\n"
    "  --progress                    progress bar even when stderr is no terminal\n"
    "  --quiet                       no progress bar, no message\n"
    "  --verbose                     the session's final state on stderr\n"
    "exit status: 0 done, 2 stopped, 3 failed, 4 not found, 64 usage error\n";

// The signal handler's only way to the session.
std::atomic<CHttpDownload*> g_session{nullptr};
static_assert(std::atomic<BOOL>::is_always_lock_free, "m_bStop is set from a signal handler");

void StopDownload() {
  CHttpDownload* session = g_session.load();
  if (session != nullptr) session->m_bStop = TRUE;
}

std::string Size(double bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 3) {
    bytes /= 1024;
    ++unit;
  }
  return unit == 0 ? platform::Format("%.0f %s", bytes, kUnits[unit]) : platform::Format("%.1f %s", bytes, kUnits[unit]);
}

// The bar on stderr, drawn from the session's notices: redrawn at most ten
// times a second, and always when the last block came.
class ProgressBar : public INotifyReceiver {
 public:
  void OnNotify(std::uint32_t, std::uint32_t, const DownloadProgress& p) override {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point now = Clock::now();
    // Event 2 opens a download; fewer bytes than before mean a new attempt.
    if (p.nEvent == 2 || p.nDownloaded < m_nLast) m_start = now;
    m_nLast = p.nDownloaded;
    const bool complete = p.nTotalSize != 0 && p.nDownloaded >= p.nTotalSize;
    if (m_bDrawn && !complete && now - m_lastDraw < std::chrono::milliseconds(100)) return;
    m_lastDraw = now;
    Draw(p, std::chrono::duration<double>(now - m_start).count());
  }

  void End() {
    if (m_bDrawn) std::fputc('\n', stderr);
    m_bDrawn = false;
  }

 private:
  void Draw(const DownloadProgress& p, double seconds) {
    const int width = 24;
    const std::uint64_t total = p.nTotalSize;
    const std::uint64_t done = total != 0 && p.nDownloaded > total ? total : p.nDownloaded;
    const int percent = total != 0 ? static_cast<int>(done * 100 / total) : 0;
    const int filled = total != 0 ? static_cast<int>(done * width / total) : 0;
    std::string line = platform::Format("%s [%s%s] %3d %%  %s / %s", platform::EscapeControls(p.strFileName).c_str(),
                                        std::string(filled, '#').c_str(), std::string(width - filled, ' ').c_str(),
                                        percent, Size(static_cast<double>(done)).c_str(),
                                        Size(static_cast<double>(total)).c_str());
    if (seconds > 0.001 && done > 0) line += "  " + Size(static_cast<double>(done) / seconds) + "/s";
    // Spaces over what a longer line before left on the screen.
    const std::size_t length = line.size();
    if (length < m_nWidth) line.append(m_nWidth - length, ' ');
    m_nWidth = length;
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
    m_bDrawn = true;
  }

  bool m_bDrawn = false;
  std::uint32_t m_nLast = 0;
  std::size_t m_nWidth = 0;
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point m_lastDraw{};
};

const char* ResultName(std::int32_t result) {
  switch (result) {
    case HD_OK:
      return "done";
    case HD_UPTODATE:
      return "up to date";
    case HD_STOPPED:
      return "stopped";
    case HD_NOTFOUND:
      return "not found (404)";
    default:
      return "failed";
  }
}

// What the user is told when the download did not succeed.
std::string Outcome(const CHttpDownload& s, std::int32_t result) {
  if (result != HD_FAILED) return ResultName(result);
  if (!s.m_strSecureError.empty()) return "failed (" + s.m_strSecureError + ")";
  const std::string& h = s.m_strResponseHeader;
  if (h.empty()) return "failed (no answer)";
  const std::string status = h.substr(0, h.find("\r\n"));
  const std::size_t code = status.find(' ');
  if (code == std::string::npos || status.compare(code + 1, 1, "2") != 0) {
    return "failed (" + platform::EscapeControls(status) + ")";
  }
  if (s.m_nContentLength == 0) return "failed (no length announced, or 0)";
  return "failed (the transfer broke off, or the file could not be written or put in place)";
}

void PrintState(const CHttpDownload& s, std::int32_t result) {
  std::string modified = platform::Format("%lld", static_cast<long long>(s.m_tLastModified));
  platform::FileTime ft = 0;
  if (platform::UnixTimeToFileTime(s.m_tLastModified, ft)) modified = platform::FormatFileTimeUtc(ft) + " UTC";
  std::fprintf(stderr,
               "result:           %d (%s)\n"
               "URL:              %s\n"
               "file:             %s\n"
               "content length:   %u\n"
               "received:         %u\n"
               "downloaded:       %u of %u\n"
               "retries:          %u\n"
               "broken transfers: %d\n"
               "last modified:    %s\n"
               "response header:  %d bytes\n",
               result, ResultName(result), platform::EscapeControls(s.m_strUrl).c_str(), s.m_strFilePath.c_str(),
               s.m_nContentLength, s.m_nReceived, s.m_nDownloaded, s.m_nTotalSize, s.m_nRetryCount, s.m_nBrokenCount,
               modified.c_str(), s.m_nHeaderLength);
  std::size_t pos = 0;
  const std::string& h = s.m_strResponseHeader;
  while (pos < h.size()) {
    std::size_t end = h.find("\r\n", pos);
    if (end == std::string::npos) end = h.size();
    std::fprintf(stderr, "  %s\n", platform::EscapeControls(std::string_view(h).substr(pos, end - pos)).c_str());
    pos = end + 2;
  }
}

// Whole text only: digits with an optional minus, within [lo, hi].
bool ParseNumber(const std::string& text, long long lo, long long hi, long long& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return !text.empty() && ec == std::errc() && ptr == end && value >= lo && value <= hi;
}

// USER:PASSWORD, split at the first colon (a password may hold more).
bool ParseCredentials(const std::string& text, std::string& user, std::string& password) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  user = text.substr(0, colon);
  password = text.substr(colon + 1);
  return true;
}

bool ParseProxy(const std::string& text, CHttpDownload& s) {
  const std::size_t sep = text.find("://");
  if (sep == std::string::npos) return false;
  const std::string kind = platform::ToLower(text.substr(0, sep));
  if (kind == "http") {
    s.m_nProxyType = PROXY_HTTP;
  } else if (kind == "socks4") {
    s.m_nProxyType = PROXY_SOCKS4;
  } else if (kind == "socks4a") {
    s.m_nProxyType = PROXY_SOCKS4A;
  } else if (kind == "socks5") {
    s.m_nProxyType = PROXY_SOCKS5;
  } else {
    return false;
  }
  std::string rest = text.substr(sep + 3);
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  const std::size_t colon = rest.rfind(':');
  long long port = 0;
  if (colon == std::string::npos || colon == 0 || !ParseNumber(rest.substr(colon + 1), 1, 65535, port)) return false;
  s.m_strProxyHost = rest.substr(0, colon);
  if (platform::HasControlByte(s.m_strProxyHost) || s.m_strProxyHost.find_first_of("/@ ") != std::string::npos) return false;
  s.m_nProxyPort = static_cast<std::uint16_t>(port);
  return true;
}

struct Options {
  bool bProgress = false;
  bool bQuiet = false;
  bool bVerbose = false;
  bool bNoResume = false;
  std::vector<std::string> operands;
};

int UsageError(const std::string& why) {
  std::fprintf(stderr,
               "tolvane-fetch: %s\n"
               "usage: tolvane-fetch [OPTIONS] URL FILE   (tolvane-fetch --help lists the options)\n",
               why.c_str());
  return kExitUsage;
}

// Reads the command line into the session. 0 to go on, else the exit status.
int ParseCommandLine(int argc, char** argv, CHttpDownload& s, Options& o) {
  constexpr long long kInt32Min = -2147483648LL, kInt32Max = 2147483647LL, kUint32Max = 4294967295LL;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      o.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return -1;
    }
    // "--name=value", or the value in the next argument, whatever it looks
    // like ("--seed -5").
    std::string value;
    bool hasValue = false;
    const std::size_t eq = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      hasValue = true;
    }
    bool* flag = arg == "--progress"    ? &o.bProgress
                 : arg == "--quiet"     ? &o.bQuiet
                 : arg == "--verbose"   ? &o.bVerbose
                 : arg == "--no-resume" ? &o.bNoResume
                                        : nullptr;
    if (flag != nullptr) {
      if (hasValue) return UsageError(arg + " takes no value");
      *flag = true;
      continue;
    }
    static const char* const kValued[] = {"--proxy", "--proxy-user", "--user", "--connect-timeout",
                                          "--receive-timeout", "--send-timeout", "--retry-mode", "--max-retries",
                                          "--retry-delay", "--user-agent", "--referer", "--seed", "--mutex-prefix",
                                          "--cacert"};
    bool known = false;
    for (const char* name : kValued) known = known || arg == name;
    if (!known) return UsageError("unknown option " + platform::EscapeControls(arg));
    if (!hasValue) {
      if (i + 1 >= argc) return UsageError(platform::EscapeControls(arg) + " needs a value");
      value = argv[++i];
    }
    long long n = 0;
    // Credentials are not echoed.
    const bool secret = arg == "--proxy-user" || arg == "--user";
    const std::string bad = "bad value for " + arg + (secret ? std::string() : ": " + platform::EscapeControls(value));
    if (arg == "--proxy") {
      if (!ParseProxy(value, s)) return UsageError(bad + " (KIND://HOST:PORT)");
    } else if (arg == "--proxy-user") {
      if (!ParseCredentials(value, s.m_strProxyUserName, s.m_strProxyPassword)) return UsageError(bad + " (USER:PASSWORD)");
      s.m_bProxyAuth = TRUE;
    } else if (arg == "--user") {
      if (!ParseCredentials(value, s.m_strUserName, s.m_strPassword)) return UsageError(bad + " (USER:PASSWORD)");
      s.m_bAuth = TRUE;
    } else if (arg == "--connect-timeout" || arg == "--receive-timeout" || arg == "--send-timeout") {
      if (!ParseNumber(value, -1, kInt32Max, n)) return UsageError(bad);
      std::int32_t& limit = arg == "--connect-timeout"   ? s.m_nConnectTimeout
                            : arg == "--receive-timeout" ? s.m_nReceiveTimeout
                                                         : s.m_nSendTimeout;
      limit = static_cast<std::int32_t>(n);
    } else if (arg == "--retry-mode") {
      if (!ParseNumber(value, 0, 2, n)) return UsageError(bad + " (0, 1 or 2)");
      s.m_nRetryMode = static_cast<std::int32_t>(n);
    } else if (arg == "--max-retries") {
      if (!ParseNumber(value, 0, kUint32Max, n)) return UsageError(bad);
      s.m_nMaxRetries = static_cast<std::uint32_t>(n);
    } else if (arg == "--retry-delay") {
      if (!ParseNumber(value, 0, kUint32Max, n)) return UsageError(bad);
      s.m_nRetryDelay = static_cast<std::uint32_t>(n);
    } else if (arg == "--user-agent" || arg == "--referer") {
      // A line break would end the header line and start one of the caller's making.
      if (platform::HasControlByte(value)) return UsageError(bad + " (control characters)");
      (arg == "--user-agent" ? s.m_strUserAgent : s.m_strReferer) = value;
    } else if (arg == "--seed") {
      if (!ParseNumber(value, kInt32Min, kInt32Max, n)) return UsageError(bad);
      s.SetTempSuffix(static_cast<int>(n));
    } else if (arg == "--cacert") {
      if (!platform::TlsIsCertificateBundle(value)) {
        return UsageError("--cacert: no PEM certificate in " + platform::EscapeControls(value));
      }
      s.m_strCaFile = value;
    } else {
      s.m_strMutexPrefix = value;
    }
  }
  if (o.operands.size() != 2) return UsageError("URL and FILE expected");
  // The URL goes into the request line as it stands (after trimming).
  if (platform::HasControlByte(platform::Trim(o.operands[0]))) return UsageError("control characters in the URL");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  // A file-size limit is then a failed write, which DownloadFile handles.
  platform::IgnoreFileSizeLimitSignal();
  // As in the launcher: a socket library that cannot start shows as a download that cannot connect.
  SockStartup();

  CHttpDownload session;
  Options options;
  const int parsed = ParseCommandLine(argc, argv, session, options);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;
  session.m_bResume = options.bNoResume ? FALSE : TRUE;

  ProgressBar bar;
  if (!options.bQuiet && (options.bProgress || platform::StandardErrorIsTerminal())) {
    session.m_bNotify = TRUE;
    session.m_hNotifyWnd = &bar;
    session.m_nNotifyMsg = kNoticeMessage;
  }
  g_session.store(&session);
  platform::CatchInterrupt(StopDownload);

  const std::int32_t result = session.DownloadFile(options.operands[0].c_str(), options.operands[1].c_str());
  g_session.store(nullptr);
  bar.End();

  if (options.bVerbose) PrintState(session, result);
  if (result != HD_OK && !options.bQuiet) {
    std::fprintf(stderr, "tolvane-fetch: %s: %s\n", platform::EscapeControls(platform::Trim(options.operands[0])).c_str(),
                 Outcome(session, result).c_str());
  }
  return result;
}
