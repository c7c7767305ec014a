// The desktop shell: opening addresses and starting programs.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// True for an http:// or https:// address (the scheme in any case) with a
// host, without blanks or control bytes. The address comes from the
// network: given anything else, the desktop's opener would open a file or
// a share, start a program through a scheme's handler, or read an option.
bool IsWebAddress(std::string_view url);

// Hands a web address (IsWebAddress) to the user's default handler:
// xdg-open, found on PATH, started detached (own session, standard streams
// on /dev/null, not waited for); on Windows ShellExecuteA("open"). False,
// and nothing opened, for any other text or when the handler could not be
// started.
bool ShellOpenUrl(const std::string& url);

// Starts the executable file at path itself (never searched on PATH; a
// relative path is taken from the current directory) with argument as its
// one argument, detached in the same way; the current directory is
// inherited. False when it could not be started: no such file, no execute
// permission, or nothing the system can run. On Windows CreateProcessA
// with the command line that ShellExecuteA would make: path in quotes, a
// blank, and argument as it is, unquoted (the started program's C run time
// reads it as one argument only while it has no blanks or quotes); no
// extension is added to path.
bool StartProgram(const std::string& path, const std::string& argument);

}  // namespace platform
