// Byte strings in the locale's multibyte encoding (the one main() selects
// with setlocale(LC_ALL, "")); on Windows in the ANSI code page, stepped
// as CharNextA steps. Searches step over whole characters, so a trail byte
// is never taken for an ASCII separator; an invalid sequence counts as one
// byte (on Windows: as CharNextA counts it).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

constexpr std::size_t npos = std::string_view::npos;

// Length in bytes of the character that starts at s[pos] (at least 1).
std::size_t MbCharLength(std::string_view s, std::size_t pos);

// First occurrence of what at a character boundary at or after from; npos if none.
std::size_t MbFind(std::string_view s, std::string_view what, std::size_t from = 0);
std::size_t MbFind(std::string_view s, char c, std::size_t from = 0);
// Last occurrence of c as a whole character; npos if none.
std::size_t MbReverseFind(std::string_view s, char c);
// Last character that is one of the bytes in set (e.g. "/\\"); npos if none.
std::size_t MbReverseFindOneOf(std::string_view s, std::string_view set);
// Every occurrence of the character from replaced by to.
std::string MbReplace(std::string_view s, char from, char to);

// White space as the C library's isspace sees it in the "C" locale.
bool IsBlank(char c);
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// ASCII letters only; bytes of multibyte characters are left alone.
std::string ToLower(std::string_view s);

// s made safe to print on a terminal: the bytes of control characters
// (C0, DEL and, as characters of the locale, C1) and of invalid sequences
// written as \xNN, everything else as it is.
std::string EscapeControls(std::string_view s);

// True when s holds a C0 control byte or DEL.
bool HasControlByte(std::string_view s);

// snprintf into a string. mingw's C99 printf (the one libstdc++ selects)
// is checked as gnu_printf.
#ifdef _WIN32
std::string Format(const char* fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
#else
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
#endif

// atoi on a view that need not be zero-terminated: leading blanks, an
// optional sign, the digits up to the first other byte; 0 without digits.
// Wraps like a 32-bit int instead of overflowing.
int AtoI(std::string_view s);

}  // namespace platform
