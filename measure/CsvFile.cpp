#include "measure/CsvFile.h"

#include <cerrno>
#include <filesystem>
#include <utility>

#include "measure/CsvLine.h"
#include "measure/FileSync.h"

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
    const bool created = !PathExists(path);
    std::FILE* file = csv_platform::OpenForAppending(path, error);
    if (file == nullptr) {
        return nullptr;
    }
    if (created) {
        error = SyncFolderOf(path);
        if (error) {
            std::fclose(file);
            return nullptr;
        }
    }
    // Unbuffered: a line is either with the system or reported as failed, never half kept in
    // a buffer that a later line would push out.
    std::setvbuf(file, nullptr, _IONBF, 0);
    return std::unique_ptr<CsvFile>(
        new CsvFile(file, std::make_unique<FileSync>(DescriptorOf(file))));
}

CsvFile::CsvFile(std::FILE* openFile, std::unique_ptr<FileSync> fileSync)
    : file(openFile), sync(std::move(fileSync)) {}

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
        sync->Written();  // also after a failure: part of the line may be with the system
    }
    anyLineFailed = anyLineFailed || !written;
    return written;
}

bool CsvFile::AnyLineFailed() const {
    return anyLineFailed || (sync != nullptr && sync->Failed());
}

std::error_code CsvFile::Close() {
    if (file == nullptr) {
        return {};
    }
    const std::error_code syncError = sync->Finish();
    anyLineFailed = anyLineFailed || static_cast<bool>(syncError);
    sync.reset();
    errno = 0;
    const int closed = std::fclose(file);
    file = nullptr;
    if (syncError || closed == 0) {
        return syncError;
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
