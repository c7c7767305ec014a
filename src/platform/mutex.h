// Named mutexes shared by every process of the user. Ownership is an
// exclusive lock and dies with the process that holds it, so a crashed
// holder never blocks anyone. Handles are not inherited by started programs.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct NamedMutex;  // opaque
using MutexHandle = NamedMutex*;

// Creates or opens the mutex `name` of this user. alreadyExisted: another
// handle of that name was open at that moment anywhere in the user's
// processes (this process included). Any byte may appear in a name.
// nullptr when it cannot be made (no safe directory for the lock files).
MutexHandle CreateNamedMutex(const std::string& name, bool& alreadyExisted);

// Takes ownership; false when timeoutMs (-1: without limit) passed first.
// Waiting again on a handle that owns the mutex returns true at once; the
// ownership is not counted, one release ends it.
bool WaitNamedMutex(MutexHandle h, std::int32_t timeoutMs);
void ReleaseNamedMutex(MutexHandle h);

// Releases ownership too; null is fine.
void CloseNamedMutex(MutexHandle h);

}  // namespace platform
