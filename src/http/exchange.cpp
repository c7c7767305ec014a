#include "http/exchange.h"

#include <memory>

#include "http/request.h"
#include "http/response.h"
#include "http/session.h"
#include "net/secure.h"
#include "platform/file.h"
#include "platform/text.h"

namespace {

std::int32_t HandshakeResult(std::int32_t outcome) {
  switch (outcome) {
    case PH_READY:
      return HX_OK;
    case PH_TRANSIENT:
      return HX_TRANSIENT;
    default:
      return HX_FAILED;
  }
}

// Connects the session's socket to the server, or to it through the proxy.
std::int32_t Connect(CHttpDownload& session) {
  switch (session.m_nProxyType) {
    case PROXY_DIRECT:
    case PROXY_HTTP: {
      const bool viaProxy = session.m_nProxyType == PROXY_HTTP;
      const std::string& host = viaProxy ? session.m_strProxyHost : session.m_strHost;
      const std::uint16_t port = viaProxy ? session.m_nProxyPort : session.m_nPort;
      return SockConnectHost(session.m_hSocket, host.c_str(), port, session.m_nConnectTimeout, TRUE) == 0
                 ? HX_OK
                 : HX_TRANSIENT;
    }
    case PROXY_SOCKS4:
    case PROXY_SOCKS4A:
    case PROXY_SOCKS5: {
      ProxyRoute route;
      route.nType = session.m_nProxyType;
      route.strProxyHost = session.m_strProxyHost;
      route.nProxyPort = session.m_nProxyPort;
      route.bProxyAuth = session.m_bProxyAuth;
      route.strProxyUserName = session.m_strProxyUserName;
      route.strProxyPassword = session.m_strProxyPassword;
      route.strHost = session.m_strHost;
      route.nPort = session.m_nPort;
      route.nConnectTimeout = session.m_nConnectTimeout;
      route.nSendTimeout = session.m_nSendTimeout;
      route.nReceiveTimeout = session.m_nReceiveTimeout;
      return HandshakeResult(ProxyConnect(session.m_hSocket, session.m_pRecvBuffer, route));
    }
    default:
      return HX_FAILED;
  }
}

// Asks the HTTP proxy for a tunnel to the server: an answer other than
// 2xx fails as a server's would (5xx transient, anything else not).
std::int32_t OpenTunnel(CHttpDownload& session) {
  const std::string request = ComposeTunnelRequest(session);
  const auto length = static_cast<std::int32_t>(request.size());
  if (SockSend(session.m_hSocket, request.data(), length, session.m_nSendTimeout) < length) return HX_TRANSIENT;
  std::string header;
  const std::int32_t read = ReadResponseHeader(session.m_pRecvBuffer, header, session.m_nReceiveTimeout);
  if (read != HX_OK) return read;
  const std::int32_t status = StatusCodeOf(header);
  // The server has not spoken yet: a proxy that sends more is no tunnel.
  if (status >= 200 && status <= 299) return session.m_pRecvBuffer->nCount == 0 ? HX_OK : HX_FAILED;
  session.m_strResponseHeader = header;
  session.m_nHeaderLength = static_cast<std::int32_t>(header.size());
  return status >= 500 ? HX_TRANSIENT : HX_FAILED;
}

// TLS with the server over the connection, through the proxy's tunnel.
std::int32_t Secure(CHttpDownload& session) {
  if (session.m_nProxyType == PROXY_HTTP) {
    const std::int32_t tunnel = OpenTunnel(session);
    if (tunnel != HX_OK) return tunnel;
  }
  std::unique_ptr<SecureChannel> channel;
  const std::int32_t opened =
      SecureChannel::Open(session.m_hSocket, session.m_strHost, session.m_strCaFile, session.m_nReceiveTimeout,
                          session.m_nSendTimeout, channel, session.m_strSecureError);
  if (opened != SC_READY) return opened == SC_TRANSIENT ? HX_TRANSIENT : HX_FAILED;
  session.m_pSecure = channel.release();
  session.m_pRecvBuffer->pSecure = session.m_pSecure;
  return HX_OK;
}

// The bytes of an earlier answer in the temporary file, which the request
// asks to continue; 0 (ask for the whole) when there is nothing to go on.
std::uint32_t BytesToContinue(CHttpDownload& session) {
  if (session.m_bRestart || session.m_strValidator.empty()) return 0;
  const platform::FileHandle file = platform::OpenFileForReading(session.m_strTempFilePath);
  if (file == platform::kNoFile) return 0;
  std::uint64_t size = 0;
  const bool known = platform::GetFileSize(file, size);
  platform::CloseFile(file);
  // Nothing more can be asked for when the file holds as much as the
  // resource, or more: a server answers such a range with 416.
  return known && size < session.m_nTotalSize ? static_cast<std::uint32_t>(size) : 0;
}

// What identifies the answer's bytes for a later If-Range: a strong ETag
// (a weak one never matches there), else the Last-Modified date; empty
// when neither can go into a request line as it came.
std::string ValidatorOf(std::string_view header) {
  std::string value;
  if (FindHeaderField(header, "ETag", value) && !value.empty() && value.rfind("W/", 0) != 0 &&
      !platform::HasControlByte(value)) {
    return value;
  }
  if (FindHeaderField(header, "Last-Modified", value) && !platform::HasControlByte(value)) return value;
  return std::string();
}

// A 206 that carries exactly the rest of the resource whose first bytes
// are in the temporary file.
bool ContinuesTheFile(const CHttpDownload& session, std::string_view header, std::uint32_t length) {
  std::string value;
  std::uint32_t first = 0, last = 0, total = 0;
  return FindHeaderField(header, "Content-Range", value) && ParseContentRange(value, first, last, total) &&
         first == session.m_nDownloaded && total == session.m_nTotalSize && last == total - 1 &&
         length == last - first + 1;
}

}  // namespace

std::int32_t ReadResponseHeader(RecvBuffer* ring, std::string& header, std::int32_t nTimeoutMs) {
  header.clear();
  // A line of exactly 1023 bytes comes as a piece and then as an empty
  // line: that one ends the long line, not the header.
  bool afterPiece = false;
  for (;;) {
    char line[RECV_LINE_SIZE + 1] = {};
    std::int32_t state = 0;
    if (RecvBufferReadLine(ring, line, state, nTimeoutMs) == -1) return HX_TRANSIENT;
    // A piece is never the empty line, even when it starts with a zero byte.
    if (line[0] == '\0' && state == 0) {
      if (!afterPiece) return HX_OK;
      // The piece ended in the CR of its line's own CRLF.
      if (!header.empty() && header.back() == '\r') header.pop_back();
    }
    header += line;
    if (state == 0) header += "\r\n";
    afterPiece = state == 1;
    if (header.size() > HX_MAX_HEADER_BYTES) return HX_FAILED;
  }
}

std::int32_t HttpExchange(CHttpDownload& session) {
  int requests = 0;
  int resends = 0;
  for (;;) {
    session.m_nDownloaded = BytesToContinue(session);
    if (session.m_nDownloaded == 0) session.m_bRestart = TRUE;
    const bool ranged = !session.m_bRestart;
    session.m_bAppend = FALSE;
    session.m_nContentLength = 0;
    session.m_strResponseHeader.clear();
    session.m_nHeaderLength = 0;

    if (!session.OpenConnection()) return HX_FAILED;
    if (session.m_bStop) return HX_STOPPED;
    const std::int32_t connected = Connect(session);
    if (connected != HX_OK) return connected;
    if (session.m_bStop) return HX_STOPPED;
    if (session.m_bSecure) {
      const std::int32_t secured = Secure(session);
      if (secured != HX_OK) return secured;
      if (session.m_bStop) return HX_STOPPED;
    }

    const std::string request = ComposeRequest(session);
    const auto length = static_cast<std::int32_t>(request.size());
    if (session.m_pSecure != nullptr) {
      // A record cut short cannot be sent again on the same stream.
      if (!session.m_pSecure->Send(request.data(), length, session.m_nSendTimeout)) return HX_TRANSIENT;
    } else if (SockSend(session.m_hSocket, request.data(), length, session.m_nSendTimeout) < length) {
      if (t_nSockError != SOCK_ETIMEDOUT) return HX_TRANSIENT;
      if (++resends > HX_MAX_RESTARTS) return HX_FAILED;
      continue;
    }
    if (session.m_bStop) return HX_STOPPED;

    std::string header;
    const std::int32_t read = ReadResponseHeader(session.m_pRecvBuffer, header, session.m_nReceiveTimeout);
    if (read != HX_OK) return read;
    session.m_strResponseHeader = header;
    session.m_nHeaderLength = static_cast<std::int32_t>(header.size());

    std::int32_t status = 0;
    std::int32_t contentLength = 0;
    switch (ParseResponseHeader(session, header, status, contentLength, session.m_tLastModified)) {
      case RP_OK:
        // The length is unsigned from here on: a negative one would read as
        // a huge resource.
        if (contentLength < 0) return HX_FAILED;
        session.m_nContentLength = static_cast<std::uint32_t>(contentLength);
        if (status == 206) {
          // A part asked for by nobody would pass for the whole resource.
          if (!ranged) return HX_FAILED;
          if (ContinuesTheFile(session, header, session.m_nContentLength)) {
            session.m_bAppend = TRUE;
            return HX_OK;
          }
          // Some other part: the bytes in hand cannot be trusted to fit.
          session.m_bRestart = TRUE;
          if (++requests > HX_MAX_RESTARTS) return HX_FAILED;
          continue;
        }
        // The whole resource, whether asked for or given instead of a part.
        session.m_nDownloaded = 0;
        session.m_nTotalSize = session.m_nContentLength;
        session.m_strValidator = ValidatorOf(header);
        return HX_OK;
      case RP_RETRY:
        return HX_TRANSIENT;
      case RP_REDIRECT:
        if (++requests > HX_MAX_RESTARTS) return HX_FAILED;
        continue;
      case RP_NOTFOUND:
        return HX_NOTFOUND;
      default:
        // 416: the bytes in hand are no beginning of the resource now.
        if (ranged && status == 416) {
          session.m_bRestart = TRUE;
          if (++requests > HX_MAX_RESTARTS) return HX_FAILED;
          continue;
        }
        return HX_FAILED;
    }
  }
}
