// One copy of the program per desktop: a named lock held for the life of the process.
// Windows: a named mutex; elsewhere an exclusive lock on a file of that name in the user's
// runtime folder. Qt-free; one implementation file per platform.
#pragma once

#include <memory>
#include <string>

class SingleInstanceLock {
public:
    explicit SingleInstanceLock(std::string name);
    ~SingleInstanceLock();  // releases the lock if held
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // False when the lock could not be created or another process already holds the name.
    bool Acquire();

private:
    struct Platform;
    std::string name;
    std::unique_ptr<Platform> platform;
};

inline constexpr const char* kSingleInstanceMutexName = "KALVIR_ORNSTEDE_CORPORATION_QIRO-7";
