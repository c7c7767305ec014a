// File-system paths as the operating system writes them. Stored zip names
// and URL targets are not paths: they keep both separators everywhere.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
constexpr std::string_view kPathSeparators = "\\/";  // Windows takes both
#else
constexpr char kPathSeparator = '/';
constexpr std::string_view kPathSeparators = "/";
#endif

// True when path does not depend on the current directory (or drive).
bool IsAbsolutePath(std::string_view path);

bool EndsWithSeparator(std::string_view path);
// Positions of the first separator at or after from, and of the last one;
// npos when there is none. Multibyte-aware: a trail byte is never one.
std::size_t FindSeparator(std::string_view path, std::size_t from = 0);
std::size_t ReverseFindSeparator(std::string_view path);
// A path written with '/' (a literal in the code) in the system's form.
std::string NativePath(std::string_view slashed);

}  // namespace platform
