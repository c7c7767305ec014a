#include "app/remote_config.h"

#include "app/globals.h"

namespace {

// The statistics query; key_name is UTF-8 "点击上报".
constexpr const char kReportPath[] =
    "/dss/statvx/?key_name=\xE7\x82\xB9\xE5\x87\xBB\xE4\xB8\x8A\xE6\x8A\xA5"
    "&c2=Quillane&c3=Quillane&d=game&t=2&v=1427160330";

}  // namespace

void LoadRemoteConfig() {
  g_strOfficialUrl = TOLVANE_OFFICIAL_URL;
  g_strReportUrl = std::string(TOLVANE_OFFICIAL_URL) + kReportPath;
  // Asking the configuration service is not built yet: the defaults stand.
}
