// What the Windows tests share with the Windows half of the test support.
#pragma once

#include <string>

namespace testing_support {

// A test's path made full, in the wide "\\?\" form: for a look of the
// test's own with the wide functions past MAX_PATH (a share's stays plain).
std::wstring LongPath(const std::string& path);

}  // namespace testing_support
