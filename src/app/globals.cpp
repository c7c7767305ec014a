#include "app/globals.h"

std::string g_strAppName;
std::string g_strDataDir;
std::string g_strOfficialUrl;
std::string g_strUpdateUrl;
std::string g_strReportUrl;
