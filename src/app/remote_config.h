// The configuration service's three addresses, and the launch report.
#pragma once

// Sets g_strOfficialUrl and g_strReportUrl to their built-in defaults, then
// takes them and g_strUpdateUrl from the configuration service where it
// supplies them. Never fails.
void LoadRemoteConfig();
