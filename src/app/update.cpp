#include "app/update.h"

#include <cstdint>
#include <vector>

#include "app/app.h"
#include "app/globals.h"
#include "app/run_log.h"
#include "app/update_fetch.h"
#include "archive/zip_extract.h"
#include "download/download.h"
#include "fs/paths.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/mutex.h"
#include "platform/path.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "verify/builtin_keys.h"

namespace {

// The low 32 bits of the time, as a signed number.
std::int32_t CurrentTime32() { return static_cast<std::int32_t>(static_cast<std::uint32_t>(platform::CurrentTime())); }

// The update mutex, held from the start of the check to its end. It only
// marks a running check: it is never waited for.
class UpdateMutex {
 public:
  UpdateMutex() : m_h(platform::CreateNamedMutex(g_strAppName + "_Update", m_bExisted)) {}
  ~UpdateMutex() { platform::CloseNamedMutex(m_h); }
  UpdateMutex(const UpdateMutex&) = delete;
  UpdateMutex& operator=(const UpdateMutex&) = delete;
  // Another launcher of this name is checking right now.
  bool IsTaken() const { return m_h != nullptr && m_bExisted; }

 private:
  bool m_bExisted = false;
  platform::MutexHandle m_h;
};

// The first file of dir matching "*.exe", by name, so that the choice does
// not depend on the file system's order; a directory is no executable.
std::string FirstExecutable(const std::string& dir) {
  std::vector<platform::DirEntry> entries;
  platform::EnumerateDirectory(dir, "*.exe", entries);
  for (const platform::DirEntry& e : entries) {
    if (!e.bDirectory) return e.strName;
  }
  return std::string();
}

// The check itself; true when the updater was started.
bool RunUpdateCheck() {
  CHttpDownload session;
  SetUpUpdateSession(session);

  DeleteDirectoryContents(g_strDataDir);

  // Another process's temporary files of the same targets get other names.
  const std::uint32_t seed = platform::CurrentThreadId() + static_cast<std::uint32_t>(platform::CurrentTime());
  session.SetTempSuffix(static_cast<std::int32_t>(seed));
  session.m_strMutexPrefix = UpdateMutexPrefix(g_strDataDir);

  const std::string strManifestUrl = platform::Format("%s%d", g_strUpdateUrl.c_str(), CurrentTime32());
  RunLog& log = TheRunLog();
  std::string why;
  switch (FetchUpdate(session, strManifestUrl, g_strDataDir, verify::BuiltInKeys(), why,
                      [&log](const std::string& line) { log.Add(line); })) {
    case UF_READY:
      break;
    case UF_NO_UPDATE:
      log.Add("update: none due");
      return false;
    case UF_REFUSED:
      log.Add("update: refused: " + why);
      return false;
    default:
      log.Add("update: failed: " + why);
      return false;
  }
  const UpdateFiles files(g_strDataDir);

  const std::string strGameDir = g_strDataDir + platform::NativePath("Game/");
  const std::string strUpdateDir = g_strDataDir + platform::NativePath("Update/");
  const BOOL bGame = ExtractZipToDirectory(files.strGameZip, strGameDir);
  const BOOL bUpdate = ExtractZipToDirectory(files.strUpdateZip, strUpdateDir);
  if (!bGame) log.Add("update: failed: the game package could not be unpacked");
  if (!bUpdate) log.Add("update: failed: the update package could not be unpacked");
  if (!bGame || !bUpdate) return false;

  const std::string strUpdater = strUpdateDir + "update.exe";
  const std::string strFoundName = FirstExecutable(strGameDir);
  const std::string strFound = strGameDir + strFoundName;
  const std::string strTarget = strGameDir + g_strAppName + ".exe";
  const BOOL bUpdater = IsExistingFile(strUpdater.c_str());
  const BOOL bFound = IsExistingFile(strFound.c_str());
  // When the package already holds the target name, it stays as it came.
  if (!strFoundName.empty() && platform::RenameNoReplace(strFound, strTarget))
    log.Add("update: " + strFound + " renamed to " + strTarget);
  if (!bUpdater) log.Add("update: failed: the update package holds no update.exe");
  if (!bFound) log.Add("update: failed: the game package holds no .exe");
  if (!bUpdater || !bFound) return false;
  // An updater that cannot be started leaves the player the site at least.
  if (LaunchUpdater()) {
    log.Add("update: the updater is started: " + strUpdater);
    return true;
  }
  log.Add("update: failed: the updater could not be started: " + strUpdater);
  return false;
}

}  // namespace

std::string UpdateMutexPrefix(const std::string& strDataDir) {
  std::string strHead;
  const std::size_t pos = platform::MbFind(strDataDir, platform::NativePath("Download/"));
  if (pos != platform::npos && pos > 1) strHead = strDataDir.substr(0, pos - 1);
  const std::size_t slash = platform::MbReverseFind(strHead, platform::kPathSeparator);
  if (slash != platform::npos) strHead.erase(0, slash + 1);
  return platform::MbReplace(platform::Format("%s_MUTEX", strHead.c_str()), platform::kPathSeparator, '_');
}

std::string UpdaterParameters(const std::string& strModulePath, const std::string& strDataDir,
                              const std::string& strAppName) {
  const std::string strGameDir = strDataDir + platform::NativePath("Game/");
  return platform::Format("%s*%s*%s", strModulePath.c_str(), strGameDir.c_str(), strAppName.c_str());
}

bool LaunchUpdater() {
  const std::string strUpdater = g_strDataDir + platform::NativePath("Update/update.exe");
  return platform::StartProgram(strUpdater, UpdaterParameters(GetModulePath(), g_strDataDir, g_strAppName));
}

void UpdateThreadProc(void* /*arg*/) {
  // Without a data directory every path below would be relative to
  // wherever the launcher was started.
  if (g_strDataDir.empty()) return;
  // Without a mutex the check still runs.
  UpdateMutex mutex;
  if (mutex.IsTaken()) {
    TheRunLog().Add("update: skipped: another " + g_strAppName + " is checking now");
    return;
  }
  if (!RunUpdateCheck()) return;
  if (auto* pApp = dynamic_cast<CTolvaneApp*>(CApp::Current())) pApp->m_bExitAfterUpdate = TRUE;
}
