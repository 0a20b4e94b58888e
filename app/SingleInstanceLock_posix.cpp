// POSIX: an exclusive, non-blocking flock on a file named after the lock in the user's runtime
// folder ($XDG_RUNTIME_DIR), or else in a private per-user folder under the temporary folder.
// The descriptor stays open, and so the lock held, until the object dies or the process ends.
#include "app/SingleInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

struct SingleInstanceLock::Platform {
    int descriptor = -1;
};

namespace {

bool IsUsableFolder(const std::string& path) {
    struct stat status {};
    return !path.empty() && stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// A folder in the shared temporary folder counts only if it is ours, a real folder and closed
// to others, so nobody else can hold or plant the lock file.
bool IsPrivateFolder(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == getuid() && (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

std::string TemporaryFolder() {
    const char* configured = std::getenv("TMPDIR");
    return configured != nullptr && IsUsableFolder(configured) ? configured : "/tmp";
}

// Empty when no usable folder exists.
std::string LockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && IsUsableFolder(runtime)) {
        return runtime;
    }
    const std::string fallback = TemporaryFolder() + "/qiro7-" + std::to_string(getuid());
    if (mkdir(fallback.c_str(), S_IRWXU) != 0 && errno != EEXIST) {
        return {};
    }
    return IsPrivateFolder(fallback) ? fallback : std::string();
}

bool IsPlainName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

}  // namespace

SingleInstanceLock::SingleInstanceLock(std::string lockName)
    : name(std::move(lockName)), platform(std::make_unique<Platform>()) {}

SingleInstanceLock::~SingleInstanceLock() {
    if (platform->descriptor >= 0) {
        close(platform->descriptor);
    }
}

bool SingleInstanceLock::Acquire() {
    if (platform->descriptor >= 0) {
        return true;
    }
    const std::string folder = LockFolder();
    if (folder.empty() || !IsPlainName(name)) {
        return false;
    }
    const std::string path = folder + "/" + name;
    const int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        return false;
    }
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        close(descriptor);
        return false;
    }
    platform->descriptor = descriptor;
    return true;
}
