// The update check, run on its own thread during start-up, and the hand-off
// to the updater that came with the update package.
#pragma once

#include <string>

// arg is the application object's m_update; it is not read. Sets the
// application object's m_bExitAfterUpdate when the updater was started.
void UpdateThreadProc(void* arg);

// Starts DATADIR/Update/update.exe with the parameter string as its one
// argument. True when it was started.
bool LaunchUpdater();

// The first part of the per-file mutex names: "_MUTEX", after the name of
// the directory in front of a "Download/" in the data directory when there
// is one ("/home/u/Download/Launcher/" gives "u_MUTEX").
std::string UpdateMutexPrefix(const std::string& strDataDir);

// "launcher path*DATADIR/Game/*application name".
std::string UpdaterParameters(const std::string& strModulePath, const std::string& strDataDir,
                              const std::string& strAppName);
