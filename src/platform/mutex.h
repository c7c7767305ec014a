// Named mutexes shared by every process of the user (on Windows: of the
// user's session, the system's own named mutexes). Ownership dies with the
// process that holds it, so a crashed holder never blocks anyone. Handles
// are not inherited by started programs.
//
// On POSIX ownership is the handle's; on Windows it is the thread's that
// waited, as the system has it: release and close a handle on the thread
// that owns through it, and two handles of one name on one thread share
// that thread's ownership.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct NamedMutex;  // opaque
using MutexHandle = NamedMutex*;

// Creates or opens the mutex `name` of this user. alreadyExisted: another
// handle of that name was open at that moment anywhere in the user's
// processes (this process included). nullptr when it cannot be made.
// On POSIX any byte may appear in a name (nullptr: no safe directory for
// the lock files). On Windows the name goes to CreateMutexA as it is: one
// that the system refuses (a '\' outside a "Local\" or "Global\" prefix,
// longer than MAX_PATH) gives nullptr, and so do an empty one and one with
// a zero byte, which would name no mutex or another one.
MutexHandle CreateNamedMutex(const std::string& name, bool& alreadyExisted);

// Takes ownership; false when timeoutMs (-1: without limit) passed first.
// A holder that ended without releasing leaves it to the waiter. Waiting
// again on a handle that owns the mutex returns true at once; the
// ownership is not counted, one release ends it.
bool WaitNamedMutex(MutexHandle h, std::int32_t timeoutMs);
void ReleaseNamedMutex(MutexHandle h);

// Releases ownership too; null is fine.
void CloseNamedMutex(MutexHandle h);

}  // namespace platform
