// What the portable half of the test support asks of support_posix.cpp or
// support_win.cpp.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// A path's bytes as the code under test writes them (the ANSI code page of
// the ...A functions on Windows), and back; generic: '/' between components.
std::filesystem::path FsPath(const std::string& bytes);
std::string PathBytes(const std::filesystem::path& path, bool generic = false);

// Sets the variable for this process and the programs it starts; nullopt
// removes it.
void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value);

// Every path below root as ListTree gives it, unsorted. On Windows by the
// system's own listing: the C runtime's stops at MAX_PATH.
std::vector<std::string> ListEntries(const std::string& root);

// Removes root and all below it, what has no write permission too; links
// go themselves, never what they lead to.
void RemoveTree(const std::string& root);

}  // namespace testing_support
