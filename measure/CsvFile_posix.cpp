// The CSV file's platform part on POSIX systems.
#include <unistd.h>

#include <cerrno>

#include "measure/CsvFile.h"

namespace csv_platform {

std::FILE* OpenForAppending(const std::string& path, std::error_code& error) {
    // "a": write-only, created when missing, every write at the end (O_APPEND).
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        error = std::error_code(errno, std::system_category());
    }
    return file;
}

}  // namespace csv_platform

// unlink, unlike remove, refuses folders, with the system's own error.
std::error_code DeleteFileOnly(const std::string& path) {
    if (::unlink(path.c_str()) != 0) {
        return std::error_code(errno, std::system_category());
    }
    return {};
}
