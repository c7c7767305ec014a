// The desktop shell: opening addresses and starting programs.
#pragma once

#include <string>

namespace platform {

// Hands a URL to the user's default handler: xdg-open, found on PATH,
// started detached (own session, standard streams on /dev/null, not
// waited for). False when it could not be started. On Windows
// ShellExecuteA("open"), and only for an http:// or https:// address: the
// shell would start a program, or open a file or a share, given anything
// else, and the address comes from the network.
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
