#include "tests/windows/ChildRoles.h"

#include <string>

#include "app/SingleInstanceLock.h"
#include "tests/windows/ChildProcess.h"

namespace {

int TryLock(const std::string& name) {
    SingleInstanceLock lock(name);
    return static_cast<int>(lock.Acquire() ? kLockAcquiredExitCode : kLockRefusedExitCode);
}

// Holds the lock until the parent says to quit, as a running first copy does.
int HoldLock(const std::string& name, const std::string& readyEvent,
             const std::string& releaseEvent) {
    SingleInstanceLock lock(name);
    if (!lock.Acquire()) {
        return static_cast<int>(kLockRefusedExitCode);
    }
    if (!SetNamedEvent(readyEvent) || !WaitForNamedEvent(releaseEvent)) {
        return static_cast<int>(kBadRoleExitCode);
    }
    return static_cast<int>(kLockAcquiredExitCode);
}

}  // namespace

std::optional<int> RunChildRole(int argc, char** argv) {
    if (argc < 2) {
        return std::nullopt;
    }
    const std::string role = argv[1];
    if (role == kTryLockRole && argc == 3) {
        return TryLock(argv[2]);
    }
    if (role == kHoldLockRole && argc == 5) {
        return HoldLock(argv[2], argv[3], argv[4]);
    }
    if (role == kTryLockRole || role == kHoldLockRole) {
        return static_cast<int>(kBadRoleExitCode);
    }
    return std::nullopt;
}
