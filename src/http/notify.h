// Progress notices of a download: the receiver a session reports to.
#pragma once

#include <cstdint>
#include <string>

struct DownloadProgress {
  std::int32_t nEvent;
  std::uint32_t nTotalSize;
  std::uint32_t nDownloaded;
  std::string strFileName;
};

// Stands where a desktop program would name a window: OnNotify is called on
// the downloading thread, and progress lives only for the call.
class INotifyReceiver {
 public:
  virtual ~INotifyReceiver() = default;
  virtual void OnNotify(std::uint32_t nMsg, std::uint32_t wParam, const DownloadProgress& progress) = 0;
};
