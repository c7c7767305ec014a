// What a Windows program's command line holds after the program's own name
// (what WinMain gets as lpCmdLine): the name, quoted or not, and the blanks
// after it skipped. For the stand-ins that record how they were started.
#pragma once

inline const char* CommandLineTail(const char* p) {
  if (*p == '"') {
    for (++p; *p != '\0' && *p != '"'; ++p) {
    }
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}
