// The desktop shell: opening addresses and starting programs.
#pragma once

#include <string>

namespace platform {

// Hands a URL to the user's default handler: xdg-open, found on PATH,
// started detached (own session, standard streams on /dev/null, not
// waited for). False when it could not be started.
bool ShellOpenUrl(const std::string& url);

}  // namespace platform
