// The application object and the start-up sequence.
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

// What the desktop framework's application class gives us: the two calls
// main() makes, and the settings key name.
class CApp {
 public:
  CApp();
  CApp(const CApp&) = delete;
  CApp& operator=(const CApp&) = delete;
  virtual ~CApp();

  virtual BOOL InitInstance() = 0;
  virtual int ExitInstance() = 0;

  // Only records the name: the program stores no settings.
  void SetRegistryKey(const std::string& strKey) { m_strRegistryKey = strKey; }

  // The one application object of the process.
  static CApp* Current();

  std::string m_strRegistryKey;
};

class CUpdate {
 public:
  virtual ~CUpdate() = default;
};

class CTolvaneApp : public CApp {
 public:
  BOOL m_bExitAfterUpdate = FALSE;
  CUpdate m_update;

  ~CTolvaneApp() override = default;
  BOOL InitInstance() override;
  int ExitInstance() override;
};

// The application name for an executable path: the file name without its
// last '.' and what follows. Empty when that leaves "", "." or "..", which
// would make the data directory the application data folder or its parent.
std::string AppNameFromModulePath(std::string_view path);
