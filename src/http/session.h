// One download session: a download's settings, the state of the current
// transfer and its connection. Callers write the settings directly.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "http/notify.h"
#include "net/proxy.h"
#include "net/sock.h"
#include "platform/types.h"

struct RecvBuffer;
class SecureChannel;

class CHttpDownload {
 public:
  CHttpDownload();
  virtual ~CHttpDownload();
  // The session owns a socket and a buffer: a copy would close them twice.
  CHttpDownload(const CHttpDownload&) = delete;
  CHttpDownload& operator=(const CHttpDownload&) = delete;

  // ".down" followed by nSeed in signed decimal.
  void SetTempSuffix(int nSeed);
  // Drops any earlier connection, then makes a socket and its receive
  // buffer. FALSE when either cannot be made.
  BOOL OpenConnection();
  void CloseConnection();
  // Defined with the download-to-file code in src/download.
  std::int32_t DownloadFile(const char* pszUrl, const char* pszFilePath);

  std::string m_strUrl;
  std::string m_strFilePath;
  std::string m_strTempFilePath;
  // The one member another thread may write during a download.
  std::atomic<BOOL> m_bStop{FALSE};
  // After a broken transfer, ask only for the rest of the resource.
  BOOL m_bResume = TRUE;
  // TRUE: the next exchange asks for the whole resource. FALSE: it asks
  // for the bytes after those in the temporary file, if they are still
  // those of m_strValidator's answer.
  BOOL m_bRestart = FALSE;
  // Set by each exchange: TRUE when the answer continues the temporary file.
  BOOL m_bAppend = FALSE;
  // The ETag, or else the Last-Modified date, of the answer whose bytes the
  // temporary file holds; empty when it had neither.
  std::string m_strValidator;
  std::uint32_t m_nTotalSize = 0;
  std::uint32_t m_nDownloaded = 0;
  std::uint32_t m_nContentLength = 0;
  std::uint32_t m_nReceived = 0;
  // DownloadFile refuses a body longer than this (HD_TOOLARGE) before it
  // writes a byte of it; the default is no limit.
  std::uint64_t m_nMaxSize = UINT64_MAX;
  std::int32_t m_nHeaderLength = 0;
  std::string m_strResponseHeader;
  std::int64_t m_tLastModified = 0;
  std::string m_strReferer;
  std::string m_strUserAgent = "HttpDownload/2.0";
  std::int32_t m_nConnectTimeout = 10000;
  std::int32_t m_nReceiveTimeout = 10000;
  std::int32_t m_nSendTimeout = 10000;
  std::int32_t m_nRetryMode = 0;
  std::uint32_t m_nRetryCount = 0;
  std::uint32_t m_nRetryDelay = 0;
  std::uint32_t m_nMaxRetries = 0;
  std::int32_t m_nBrokenCount = 0;
  BOOL m_bNotify = FALSE;
  INotifyReceiver* m_hNotifyWnd = nullptr;
  std::uint32_t m_nNotifyMsg = 0;
  BOOL m_bAuth = FALSE;
  std::string m_strUserName;
  std::string m_strPassword;
  std::string m_strProxyHost;
  std::uint16_t m_nProxyPort = 0;
  std::int32_t m_nProxyType = PROXY_DIRECT;
  BOOL m_bProxyAuth = FALSE;
  std::string m_strProxyUserName;
  std::string m_strProxyPassword;
  std::string m_strHost;
  std::string m_strObject;
  std::string m_strFileName;
  std::uint16_t m_nPort = 80;
  // The URL is https: the exchange runs over TLS, and a redirect may not leave it.
  BOOL m_bSecure = FALSE;
  // A PEM bundle trusted instead of the system's store; empty for the store.
  std::string m_strCaFile;
  // Why the last TLS handshake failed; empty when it did not.
  std::string m_strSecureError;
  SOCKET m_hSocket = INVALID_SOCKET;
  RecvBuffer* m_pRecvBuffer = nullptr;
  // Owned; set while the connection runs TLS.
  SecureChannel* m_pSecure = nullptr;
  std::string m_strTempSuffix = ".down";
  std::string m_strMutexPrefix;
  // Held only while DownloadFile puts a finished file in place.
  void* m_hMutex = nullptr;
};
