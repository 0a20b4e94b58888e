// Syncing files on Windows. Windows has no folder sync; flushing a file writes its own metadata
// as well.
#include <windows.h>

#include <io.h>

#include "measure/FileSync.h"

int DescriptorOf(std::FILE* file) {
    return _fileno(file);
}

namespace file_sync_platform {

NativeFile NativeOf(int descriptor) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

// Only files on a disk are flushed: on a pipe FlushFileBuffers would wait for its reader.
std::error_code SyncData(NativeFile file) {
    if (file == INVALID_HANDLE_VALUE) {
        return std::error_code(ERROR_INVALID_HANDLE, std::system_category());
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        return {};
    }
    if (!FlushFileBuffers(file)) {
        return std::error_code(static_cast<int>(GetLastError()), std::system_category());
    }
    return {};
}

std::error_code SyncFolder(const std::string&) {
    return {};
}

}  // namespace file_sync_platform
