#include "app/app.h"

#include <chrono>

#include "app/globals.h"
#include "app/remote_config.h"
#include "app/run_log.h"
#include "app/update.h"
#include "fs/paths.h"
#include "net/sock.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/path.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace {
CApp* s_pCurrentApp = nullptr;
}

CApp::CApp() { s_pCurrentApp = this; }

CApp::~CApp() {
  if (s_pCurrentApp == this) s_pCurrentApp = nullptr;
}

CApp* CApp::Current() { return s_pCurrentApp; }

std::string AppNameFromModulePath(std::string_view path) {
  std::size_t slash = platform::ReverseFindSeparator(path);
  std::string_view name = slash == platform::npos ? path : path.substr(slash + 1);
  std::size_t dot = platform::MbReverseFind(name, '.');
  if (dot != platform::npos) name = name.substr(0, dot);
  if (name.empty() || name == "." || name == "..") return std::string();
  return std::string(name);
}

namespace {

// Saves the run's log however start-up ends. Saving never changes the
// outcome: a log that cannot be written is no log.
class SaveLogAtEnd {
 public:
  SaveLogAtEnd() : m_start(std::chrono::steady_clock::now()) {}
  ~SaveLogAtEnd() {
    RunLog& log = TheRunLog();
    log.Add(platform::Format("ended after %.3f s",
                             std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count()));
    log.Save(platform::GetLastRunLogPath(g_strAppName));
  }
  SaveLogAtEnd(const SaveLogAtEnd&) = delete;
  SaveLogAtEnd& operator=(const SaveLogAtEnd&) = delete;

 private:
  std::chrono::steady_clock::time_point m_start;
};

}  // namespace

BOOL CTolvaneApp::InitInstance() {
  const std::string strModule = platform::GetModuleFileName();
  g_strAppName = AppNameFromModulePath(strModule);
  if (g_strAppName.empty()) return FALSE;  // nothing is touched without a name
  const SaveLogAtEnd saveLog;
  RunLog& log = TheRunLog();
  log.Add(platform::Format("%s %s, started %s UTC", g_strAppName.c_str(), TOLVANE_VERSION,
                           platform::FormatFileTimeUtc(platform::CurrentFileTime()).c_str()));
  log.Add("program: " + strModule);
  SetRegistryKey(g_strAppName);
  m_bExitAfterUpdate = FALSE;
  SockStartup();  // a failure shows later, as downloads that cannot connect

  g_strDataDir = GetDataDirectory(g_strAppName);
  if (g_strDataDir.empty()) {
    log.Add("no data directory: no home folder to put it in");
    return FALSE;  // no home: nowhere that is ours to write
  }
  log.Add("data directory: " + g_strDataDir);
  CreateDirectoryTree(g_strDataDir);

  LoadRemoteConfig();

  platform::Thread updateThread;
  if (updateThread.Start(UpdateThreadProc, &m_update)) updateThread.Join();
  else log.Add("update: skipped: no thread to run it on");
  if (m_bExitAfterUpdate) return FALSE;

  std::string strScratch;
  long status = 0;
  // The launch report; its answer is of no interest, beyond the log.
  const bool reported = FetchUrlText(g_strReportUrl, strScratch, &status);
  log.Add("report: " + LoggedAddressWithoutQuery(g_strReportUrl) + ": " + OpenedText(reported, status, strScratch.size()));
  const std::string strSite = LoggedAddress(g_strOfficialUrl);
  if (platform::ShellOpenUrl(g_strOfficialUrl)) log.Add("site: handed to the browser: " + strSite);
  else if (!platform::IsWebAddress(g_strOfficialUrl)) log.Add("site: no web address, nothing opened: " + strSite);
  else log.Add("site: no browser could be started for " + strSite);
  return FALSE;
}

int CTolvaneApp::ExitInstance() { return 0; }
