// What the portable half of the test support asks of support_posix.cpp or
// support_win.cpp.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace testing_support {

// A path's bytes as the code under test writes them (the ANSI code page of
// the ...A functions on Windows), and back; generic: '/' between components.
std::filesystem::path FsPath(const std::string& bytes);
std::string PathBytes(const std::filesystem::path& path, bool generic = false);

// Sets the variable for this process and the programs it starts; nullopt
// removes it.
void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value);

}  // namespace testing_support
