// The process-wide strings: empty when the process starts, written by the
// main thread before the update thread exists, read-only afterwards.
#pragma once

#include <string>

extern std::string g_strAppName;      // executable's file name without directory and extension
extern std::string g_strDataDir;      // local application data folder + name, each followed by a separator
extern std::string g_strOfficialUrl;  // opened in the browser at the end of start-up
extern std::string g_strUpdateUrl;    // base address of the update manifest
extern std::string g_strReportUrl;    // requested by the launch report
