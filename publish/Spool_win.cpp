// The spool's platform steps on Windows: an exclusive open for the folder lock, wide paths.
#include <windows.h>

#include <io.h>

#include <cerrno>
#include <string>

#include "measure/FileSync.h"
#include "publish/SpoolPlatform.h"

namespace {

std::error_code LastError() {
    return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

}  // namespace

SpoolFolderLock::~SpoolFolderLock() {
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

std::unique_ptr<SpoolFolderLock> SpoolFolderLock::Take(const std::filesystem::path& lockFile,
                                                       bool& heldElsewhere,
                                                       std::error_code& error) {
    // No sharing: a second open of the file fails while this handle lives.
    const HANDLE file = CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        heldElsewhere = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
        error = std::error_code(static_cast<int>(code), std::system_category());
        return nullptr;
    }
    heldElsewhere = false;
    return std::unique_ptr<SpoolFolderLock>(
        new SpoolFolderLock(reinterpret_cast<std::intptr_t>(file)));
}

namespace spool_platform {

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode, std::error_code& error) {
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    _doserrno = 0;
    std::FILE* file = _wfopen(path.c_str(), wideMode.c_str());
    if (file == nullptr) {
        error = _doserrno != 0
                    ? std::error_code(static_cast<int>(_doserrno), std::system_category())
                    : std::error_code(errno, std::generic_category());
    }
    return file;
}

int DescriptorOf(std::FILE* file) {
    return _fileno(file);
}

std::error_code SyncFile(std::FILE* file) {
    return SyncFileData(reinterpret_cast<NativeFile>(_get_osfhandle(_fileno(file))));
}

std::error_code TruncateFile(std::FILE* file, std::uint64_t size) {
    const errno_t result = _chsize_s(_fileno(file), static_cast<long long>(size));
    if (result != 0) {
        return std::error_code(result, std::generic_category());
    }
    return {};
}

std::error_code RenameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return LastError();
    }
    return {};
}

}  // namespace spool_platform
