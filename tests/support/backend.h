// What the portable half of the test support asks of support_posix.cpp or
// support_win.cpp.
#pragma once

#include <optional>
#include <string>

namespace testing_support {

// Sets the variable for this process and the programs it starts; nullopt
// removes it.
void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value);

}  // namespace testing_support
