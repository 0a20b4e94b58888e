#include "measure/CsvFile.h"

#include <cerrno>
#include <filesystem>

#include "measure/CsvLine.h"

namespace {

std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace

std::unique_ptr<CsvFile> CsvFile::Open(const std::string& path, std::error_code& error) {
    error.clear();
    std::FILE* file = csv_platform::OpenForAppending(path, error);
    if (file == nullptr) {
        return nullptr;
    }
    // Unbuffered: a line is either with the system or reported as failed, never half kept in
    // a buffer that a later line would push out.
    std::setvbuf(file, nullptr, _IONBF, 0);
    return std::unique_ptr<CsvFile>(new CsvFile(file));
}

CsvFile::~CsvFile() {
    Close();
}

bool CsvFile::WriteLine(const MeasurementSample& sample) {
    const std::string line = CsvLine(sample);
    bool written = false;
    if (file != nullptr) {
        std::clearerr(file);
        written =
            std::fwrite(line.data(), 1, line.size(), file) == line.size() && std::fflush(file) == 0;
    }
    anyLineFailed = anyLineFailed || !written;
    return written;
}

std::error_code CsvFile::Close() {
    if (file == nullptr) {
        return {};
    }
    errno = 0;
    const int closed = std::fclose(file);
    file = nullptr;
    if (closed == 0) {
        return {};
    }
    return std::error_code(errno != 0 ? errno : EIO, std::generic_category());
}

std::string FullPath(const std::string& name) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(PathOf(name), error);
    if (error) {
        return name;
    }
    return Utf8Of(absolute.lexically_normal());
}

bool PathExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(PathOf(path), error));
}
