// The minisign public keys that the operator built in (TOLVANE_UPDATE_KEYS).
// Defined by the keys library that the executable links
// (tolvane_update_keys_library in this directory's CMakeLists.txt).
#pragma once

#include <optional>
#include <vector>

#include "verify/minisign.h"

namespace verify {

// Nothing when built without keys. A line that cannot be read (CMake
// checks them, so only a broken build has one) is left out: the keys stay
// required, and a signature can only match the ones that were read.
std::optional<std::vector<PublicKey>> BuiltInKeys();

}  // namespace verify
