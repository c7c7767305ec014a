// What the Windows file sources share: paths in the wide "\\?\" form, where
// MAX_PATH does not bound them, and entries checked by handle, where a link
// can no longer change what a name stands for. The callers' paths are in
// the ANSI code page; only this layer speaks UTF-16.
#pragma once

#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/windows_api.h"

namespace platform::win {

// Bytes of the ANSI code page as UTF-16. False when they are no text of it
// (an invalid sequence, a zero byte): a guess would name another entry.
bool ToWide(std::string_view ansi, std::wstring& wide);

// A name of the system in the ANSI code page. False when it has no exact
// form there (a character the code page lacks): '?' or a look-alike would
// name another entry, or none.
bool ToAnsi(std::wstring_view wide, std::string& ansi);

// What a system call that fills a buffer of WCHARs gives, grown until it
// fits: fill(buffer, size) answers the length, or the size it needs (the
// terminating zero counted) when the buffer is too small, or 0. Empty when
// it fails.
template <typename Fill>
std::wstring Filled(Fill fill) {
  std::wstring buf(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD n = fill(buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::wstring();
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    buf.assign(n, L'\0');
  }
  return std::wstring();
}

// path made full as the system makes a plain path (against the current
// directory; '/' becomes '\', "." and ".." go, and so do the dots and
// blanks that end a name: "a." is "a"); a device name ("NUL",
// "C:\x\con.txt") becomes the device ("\\.\NUL"). Empty when path is no
// text of the ANSI code page or cannot be made full.
std::wstring FullPath(const std::string& path);

// path as the wide functions take it past MAX_PATH: its FullPath behind
// "\\?\" ("\\?\UNC\server\share\..." for a share), a device as the device.
// A path in "\\?\" or "\\.\" form already is taken as it stands (an entry
// named "nul" or "a." is that entry). Empty when FullPath is.
std::wstring WidePath(const std::string& path);

// The attributes of an open handle; INVALID_FILE_ATTRIBUTES when unknown.
DWORD AttributesOf(HANDLE h);

// Where the open handle really is, in "\\?\" form; empty when the system
// cannot say.
std::wstring FinalPathOf(HANDLE h);

// dir, a backslash unless it ends with one, name.
std::wstring JoinPath(const std::wstring& dir, std::wstring_view name);

// Whether the open handle is the entry name of the directory whose final
// path is dir. A link opened through (Wine shows a Unix symbolic link to
// a file as a plain file; only its final path gives it away), a short 8.3
// name or a name the system changes ("a." opens "a") all fail this.
bool StandsWhere(HANDLE h, const std::wstring& dir, std::wstring_view name);

// Whether h, opened by path (a WidePath), is the entry that the last
// component of path names rather than what a link there leads to (links
// before it count).
bool IsEntryOf(HANDLE h, const std::wstring& path);

// Removes the non-directory entry name of the directory whose final path
// is dir: a link (one that the system shows as one) itself, or a file,
// read-only too, after its attributes are cleared by handle. A directory,
// and whatever does not stand where it is named, stays. listed is what a
// listing said of the entry. True when it is gone.
bool RemoveNonDirectory(const std::wstring& dir, const std::wstring& name, DWORD listed);

// 100 ns steps since 1601 as the system takes them; false for 1601-01-01
// 00:00:00.0000000 itself (to SetFileTime that means "no change") and
// before.
bool ToSystemFileTime(FileTime ft, FILETIME& out);

}  // namespace platform::win
