#include <windows.h>

#include "app/SingleInstanceLock.h"

struct SingleInstanceLock::Platform {
    HANDLE mutex = nullptr;  // owned by this process while held
};

SingleInstanceLock::SingleInstanceLock(std::string mutexName)
    : name(std::move(mutexName)), platform(std::make_unique<Platform>()) {}

SingleInstanceLock::~SingleInstanceLock() {
    if (platform->mutex != nullptr) {
        ReleaseMutex(platform->mutex);
        CloseHandle(platform->mutex);
    }
}

bool SingleInstanceLock::Acquire() {
    if (platform->mutex != nullptr) {
        return true;
    }
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
    if (mutex == nullptr) {
        return false;
    }
    // The name existed: the handle opens the other process's mutex without owning it.
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    platform->mutex = mutex;
    return true;
}
