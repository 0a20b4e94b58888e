// The spool's platform steps on POSIX systems: flock for the folder lock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "measure/FileSync.h"
#include "publish/SpoolPlatform.h"

namespace {

std::error_code LastError() {
    return std::error_code(errno, std::system_category());
}

}  // namespace

SpoolFolderLock::~SpoolFolderLock() {
    ::close(static_cast<int>(handle));
}

std::unique_ptr<SpoolFolderLock> SpoolFolderLock::Take(const std::filesystem::path& lockFile,
                                                       bool& heldElsewhere,
                                                       std::error_code& error) {
    heldElsewhere = false;
    const int descriptor = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        error = LastError();
        return nullptr;
    }
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        heldElsewhere = errno == EWOULDBLOCK;
        error = LastError();
        ::close(descriptor);
        return nullptr;
    }
    return std::unique_ptr<SpoolFolderLock>(new SpoolFolderLock(descriptor));
}

namespace spool_platform {

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode, std::error_code& error) {
    std::FILE* file = std::fopen(path.c_str(), mode);
    if (file == nullptr) {
        error = LastError();
    }
    return file;
}

int DescriptorOf(std::FILE* file) {
    return ::fileno(file);
}

std::error_code SyncFile(std::FILE* file) {
    return SyncFileData(::fileno(file));
}

std::error_code TruncateFile(std::FILE* file, std::uint64_t size) {
    if (::ftruncate(::fileno(file), static_cast<off_t>(size)) != 0) {
        return LastError();
    }
    return {};
}

std::error_code RenameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        return LastError();
    }
    return {};
}

}  // namespace spool_platform
