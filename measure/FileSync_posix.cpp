// Syncing files and folders on POSIX systems.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "measure/FileSync.h"

namespace {

// EINVAL and EROFS: a descriptor that does not support syncing (a pipe, a socket, a terminal,
// a folder on some file systems).
std::error_code SyncDescriptor(int descriptor) {
    int result = 0;
    do {
        result = ::fdatasync(descriptor);
    } while (result != 0 && errno == EINTR);
    if (result == 0 || errno == EINVAL || errno == EROFS) {
        return {};
    }
    return std::error_code(errno, std::system_category());
}

}  // namespace

int DescriptorOf(std::FILE* file) {
    return ::fileno(file);
}

namespace file_sync_platform {

NativeFile NativeOf(int descriptor) {
    return descriptor;
}

std::error_code SyncData(NativeFile file) {
    return SyncDescriptor(file);
}

std::error_code SyncFolder(const std::string& path) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        return std::error_code(errno, std::system_category());
    }
    const std::error_code error = SyncDescriptor(descriptor);
    ::close(descriptor);
    return error;
}

}  // namespace file_sync_platform
