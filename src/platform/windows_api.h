// <windows.h> as the Windows backend includes it: without the min and max
// macros, and without the macros that would rename this layer's own
// functions (GetModuleFileName, ReplaceFile, GetPrivateProfileString).
#pragma once

// This layer's BOOL, TRUE and FALSE first: after <windows.h> its TRUE
// and FALSE macros would stand in their place.
#include "platform/types.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef GetModuleFileName
#undef ReplaceFile
#undef GetPrivateProfileString
