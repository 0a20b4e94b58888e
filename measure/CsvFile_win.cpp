// The CSV file's platform part on Windows: wide-character paths, and no sharing while open.
#include <windows.h>

#include <share.h>
#include <stdlib.h>

#include <cerrno>
#include <string>

#include "measure/CsvFile.h"

namespace csv_platform {

std::wstring WidePath(const std::string& utf8) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                            length);
    }
    return wide;
}

std::FILE* OpenForAppending(const std::string& path, std::error_code& error) {
    _doserrno = 0;
    std::FILE* file = _wfsopen(WidePath(path).c_str(), L"ab", _SH_DENYRW);
    if (file == nullptr) {
        // The system's own code when the open reached the system, else the runtime's.
        error = _doserrno != 0
                    ? std::error_code(static_cast<int>(_doserrno), std::system_category())
                    : std::error_code(errno, std::generic_category());
    }
    return file;
}

}  // namespace csv_platform

std::error_code DeleteFileOnly(const std::string& path) {
    if (!DeleteFileW(csv_platform::WidePath(path).c_str())) {
        return std::error_code(static_cast<int>(GetLastError()), std::system_category());
    }
    return {};
}
