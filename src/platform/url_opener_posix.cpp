#include "platform/url_opener.h"

#include <curl/curl.h>

#include <mutex>

namespace platform {

namespace {

struct Sink {
  std::string body;
  std::size_t nReceived = 0;
  std::size_t nMax = 0;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  Sink& sink = *static_cast<Sink*>(user);
  std::size_t n = size * count;
  sink.nReceived += n;
  if (sink.nReceived > sink.nMax) return 0;  // makes curl fail the transfer
  AppendWithoutLineBreaks(sink.body, data, n);
  return n;
}

}  // namespace

bool OpenUrlText(const std::string& url, const std::string& userAgent, std::string& text,
                 const UrlOpenerLimits& limits, long* pStatus) {
  if (pStatus != nullptr) *pStatus = 0;
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  CURL* curl = curl_easy_init();
  if (curl == nullptr) return false;
  Sink sink;
  sink.nMax = limits.nMaxBodyBytes;
  const std::string strUrl = UrlForOpener(url);
  curl_easy_setopt(curl, CURLOPT_URL, strUrl.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, userAgent.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, limits.nMaxRedirects);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.nConnectTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, limits.nTotalTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // no SIGALRM from name look-ups in a threaded program
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  CURLcode rc = curl_easy_perform(curl);
  if (pStatus != nullptr) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, pStatus);
  curl_easy_cleanup(curl);
  if (rc != CURLE_OK) return false;
  text += sink.body;
  return true;
}

}  // namespace platform
