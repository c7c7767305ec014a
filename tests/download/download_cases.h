// What the download tests serve and how they set up the session.
#pragma once

#include <string>

#include "download/download.h"
#include "support/support.h"

namespace download_cases {

inline std::string Body(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 7919) & 0xFF);
  return s;
}

inline std::string Ok(const std::string& body, const std::string& extra = "") {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

inline const std::string kBusy = "HTTP/1.1 503 Busy\r\nContent-Length: 0\r\n\r\n";

struct Download {
  CHttpDownload session;
  Download() {
    session.m_nConnectTimeout = session.m_nSendTimeout = session.m_nReceiveTimeout = 2000;
    session.m_strMutexPrefix = "tolvane-test-" + std::to_string(testing_support::ProcessId());
  }
};

}  // namespace download_cases
