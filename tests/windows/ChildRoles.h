// What this test executable does when a test starts it again as a child process.
#pragma once

#include <windows.h>

#include <optional>

inline constexpr const char* kTryLockRole = "--try-lock";    // name
inline constexpr const char* kHoldLockRole = "--hold-lock";  // name ready-event release-event

inline constexpr DWORD kLockAcquiredExitCode = 0;
inline constexpr DWORD kLockRefusedExitCode = 3;
inline constexpr DWORD kBadRoleExitCode = 64;

// The exit code of the role named on the command line; nothing when no role is named and the
// tests are to run.
std::optional<int> RunChildRole(int argc, char** argv);
