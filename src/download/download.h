// Download to file: CHttpDownload::DownloadFile and its results.
#pragma once

#include <cstdint>

#include "http/session.h"

constexpr std::int32_t HD_OK = 0;        // the file is in place (or another download just placed it)
constexpr std::int32_t HD_UPTODATE = 1;  // never returned: the target is never compared with the resource
constexpr std::int32_t HD_STOPPED = 2;   // m_bStop was found set
constexpr std::int32_t HD_FAILED = 3;
constexpr std::int32_t HD_NOTFOUND = 4;  // 404, never retried
constexpr std::int32_t HD_TOOLARGE = 5;  // the announced length is over m_nMaxSize; nothing written

// New attempts that one call makes after transfers that broke off or
// blocks that could not be written, before it gives up: a server that
// always cuts off, or a full disk, must not hold the caller for ever. A
// break after which the temporary file holds HD_PROGRESS_BYTES more than
// at the break before (or the start) is progress and does not count; none
// counts past HD_MAX_BROKEN_TRANSFERS in one call.
constexpr int HD_MAX_BROKEN_ATTEMPTS = 5;
constexpr std::uint32_t HD_PROGRESS_BYTES = 1 << 20;
constexpr int HD_MAX_BROKEN_TRANSFERS = 1000;

// Progress notices go to m_hNotifyWnd with this wParam.
constexpr std::uint32_t HD_NOTIFY_WPARAM = 2;
