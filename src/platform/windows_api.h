// <windows.h> as the Windows backend includes it: without the min and max
// macros, and without the macros that would rename this layer's own
// functions (GetModuleFileName, ReplaceFile, GetPrivateProfileString).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef GetModuleFileName
#undef ReplaceFile
#undef GetPrivateProfileString
