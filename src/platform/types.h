// Basic types shared by every subsystem.
#pragma once

#include <cstdint>

// A 32-bit truth value, 0 or non-zero, as the stored structures and
// interfaces of this system use it.
using BOOL = std::int32_t;
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
