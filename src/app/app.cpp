#include "app/app.h"

#include "app/globals.h"
#include "app/remote_config.h"
#include "app/update.h"
#include "fs/paths.h"
#include "net/sock.h"
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

BOOL CTolvaneApp::InitInstance() {
  g_strAppName = AppNameFromModulePath(platform::GetModuleFileName());
  if (g_strAppName.empty()) return FALSE;  // nothing is touched without a name
  SetRegistryKey(g_strAppName);
  m_bExitAfterUpdate = FALSE;
  SockStartup();  // a failure shows later, as downloads that cannot connect

  g_strDataDir = GetDataDirectory(g_strAppName);
  if (g_strDataDir.empty()) return FALSE;  // no home: nowhere that is ours to write
  CreateDirectoryTree(g_strDataDir);

  LoadRemoteConfig();

  platform::Thread updateThread;
  if (updateThread.Start(UpdateThreadProc, &m_update)) updateThread.Join();
  if (m_bExitAfterUpdate) return FALSE;

  std::string strScratch;
  FetchUrlText(g_strReportUrl, strScratch);  // the launch report; its answer is of no interest
  platform::ShellOpenUrl(g_strOfficialUrl);
  return FALSE;
}

int CTolvaneApp::ExitInstance() { return 0; }
