#include "download/download.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "fs/paths.h"
#include "http/exchange.h"
#include "http/url.h"
#include "net/recv_buffer.h"
#include "platform/file.h"
#include "platform/files.h"
#include "platform/mutex.h"
#include "platform/path.h"
#include "platform/text.h"

namespace {

// The pause before a retry, cut short by a stop request, which the next
// exchange then reports.
void PauseUnlessStopped(const CHttpDownload& session, std::uint32_t ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
  while (!session.m_bStop) {
    const Clock::time_point now = Clock::now();
    if (now >= end) return;
    std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(50)));
  }
}

// The text after the last '/' (or, for a request target without one, the
// last backslash); the whole object when it has neither or is one byte.
std::string FileNameOfObject(const std::string& object) {
  std::size_t sep = platform::MbReverseFind(object, '/');
  if (sep == platform::npos) sep = platform::MbReverseFind(object, '\\');
  if (sep == platform::npos || object.size() <= 1) return object;
  return object.substr(sep + 1);
}

void Notify(const CHttpDownload& s, std::int32_t event) {
  if (!s.m_bNotify || s.m_hNotifyWnd == nullptr) return;
  const DownloadProgress progress{event, s.m_nTotalSize, s.m_nDownloaded, s.m_strFileName};
  s.m_hNotifyWnd->OnNotify(s.m_nNotifyMsg, HD_NOTIFY_WPARAM, progress);
}

enum class BodyEnd { kWhole, kBroken, kStopped };

// Copies the body block by block from the connection into file, each block
// written before the next is read.
BodyEnd ReceiveBody(CHttpDownload& s, platform::FileHandle file) {
  s.m_nReceived = 0;
  char block[RECV_BUFFER_SIZE];
  for (;;) {
    if (s.m_bStop) return BodyEnd::kStopped;
    const std::int32_t n = RecvBufferReadBlock(s.m_pRecvBuffer, block, s.m_nReceiveTimeout);
    if (n <= 0) {
      // A stop that came during the wait (Ctrl-C ends it early) is no
      // broken transfer, nor a reason to give up as failed.
      if (s.m_bStop) return BodyEnd::kStopped;
      ++s.m_nBrokenCount;
      return BodyEnd::kBroken;
    }
    // What a faulty server sends past the announced length is not the resource.
    const std::uint32_t take = std::min(static_cast<std::uint32_t>(n), s.m_nContentLength - s.m_nReceived);
    if (!platform::WriteFileAll(file, block, take)) return BodyEnd::kBroken;
    s.m_nReceived += take;
    s.m_nDownloaded += take;
    Notify(s, 3);
    if (s.m_nReceived >= s.m_nContentLength) return BodyEnd::kWhole;
  }
}

std::string FileNameOfPath(const std::string& path) {
  const std::size_t sep = platform::ReverseFindSeparator(path);
  return sep == platform::npos ? path : path.substr(sep + 1);
}

std::string DirectoryOfPath(const std::string& path) {
  const std::size_t sep = platform::ReverseFindSeparator(path);
  return sep == platform::npos ? std::string() : path.substr(0, sep);
}

}  // namespace

std::int32_t CHttpDownload::DownloadFile(const char* pszUrl, const char* pszFilePath) {
  m_bStop = FALSE;
  m_bRestart = TRUE;
  m_nRetryCount = 0;

  m_strUrl = platform::Trim(pszUrl != nullptr ? pszUrl : "");
  if (m_strUrl.empty()) return HD_FAILED;
  if (!ParseUrl(m_strUrl, m_strHost, m_nPort, m_strObject, m_bSecure)) {
    m_strUrl = "http://" + m_strUrl;
    if (!ParseUrl(m_strUrl, m_strHost, m_nPort, m_strObject, m_bSecure)) return HD_FAILED;
  }
  m_strFilePath = platform::Trim(pszFilePath != nullptr ? pszFilePath : "");
  if (m_strFilePath.empty()) return HD_FAILED;
  m_strTempFilePath = m_strFilePath + m_strTempSuffix;
  m_nReceived = m_nDownloaded = m_nTotalSize = m_nContentLength = 0;

  bool firstNotice = true;
  int brokenTransfers = 0;
  int slowBreaks = 0;
  std::uint32_t heldAtLastBreak = 0;

  for (;;) {
    switch (HttpExchange(*this)) {
      case HX_OK:
        break;
      case HX_TRANSIENT:
        if (m_bStop) return HD_STOPPED;
        if (m_nRetryMode == 1) {
          if (m_nRetryCount >= m_nMaxRetries) return HD_FAILED;
          ++m_nRetryCount;
        } else if (m_nRetryMode != 2) {
          return HD_FAILED;
        }
        if (m_nRetryDelay != 0) PauseUnlessStopped(*this, m_nRetryDelay);
        continue;
      case HX_STOPPED:
        return HD_STOPPED;
      case HX_NOTFOUND:
        return HD_NOTFOUND;
      default:
        return HD_FAILED;
    }

    if (m_nContentLength == 0) return HD_FAILED;
    // The body can never grow past the announced length (ReceiveBody cuts
    // it there), so a whole within the limit keeps the file within it; a
    // part continues a whole that was checked so.
    if (m_nTotalSize > m_nMaxSize) {
      CloseConnection();
      return HD_TOOLARGE;
    }
    CreateDirectoryTree(DirectoryOfPath(m_strTempFilePath));
    const platform::FileHandle file = m_bAppend ? platform::OpenFileToContinue(m_strTempFilePath, m_nDownloaded)
                                                : platform::CreateFileForWriting(m_strTempFilePath, 0666);
    if (file == platform::kNoFile) return HD_FAILED;
    m_strFileName = FileNameOfObject(m_strObject);
    if (firstNotice && m_bNotify) {
      Notify(*this, 2);
      Notify(*this, 1);
      Notify(*this, 3);
      firstNotice = false;
    }
    const BodyEnd end = ReceiveBody(*this, file);
    platform::CloseFile(file);
    if (end == BodyEnd::kStopped) return HD_STOPPED;
    if (end == BodyEnd::kWhole) break;
    // Broken off, or the disk refused the block: a new attempt for the
    // rest, a bounded number of times unless it made progress.
    if (++brokenTransfers > HD_MAX_BROKEN_TRANSFERS) return HD_FAILED;
    const bool progressed = std::uint64_t{m_nDownloaded} >= std::uint64_t{heldAtLastBreak} + HD_PROGRESS_BYTES;
    heldAtLastBreak = m_nDownloaded;
    if (!progressed && ++slowBreaks > HD_MAX_BROKEN_ATTEMPTS) return HD_FAILED;
    m_bRestart = !m_bResume;
  }
  CloseConnection();

  bool existed = false;
  platform::MutexHandle mutex = platform::CreateNamedMutex(m_strMutexPrefix + "_" + FileNameOfPath(m_strFilePath), existed);
  m_hMutex = mutex;
  // Without a mutex the file is still put in place; only the give-way is lost.
  if (mutex != nullptr) platform::WaitNamedMutex(mutex, -1);
  std::int32_t result = HD_OK;
  if (mutex != nullptr && existed && IsExistingFile(m_strFilePath.c_str())) {
    // Another download of this file has just put it in place.
    platform::DeleteOneFile(m_strTempFilePath);
  } else if (!platform::ReplaceFile(m_strTempFilePath, m_strFilePath)) {
    result = HD_FAILED;
  } else {
    // A file that cannot be stamped is still the resource, whole.
    platform::SetModificationTime(m_strFilePath, m_tLastModified);
  }
  if (mutex != nullptr) {
    platform::ReleaseNamedMutex(mutex);
    platform::CloseNamedMutex(mutex);
  }
  m_hMutex = nullptr;
  return result;
}
