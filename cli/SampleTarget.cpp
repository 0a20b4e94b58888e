#include "cli/SampleTarget.h"

#include <cerrno>

#include "measure/CsvFile.h"

std::unique_ptr<SampleTarget> SampleTarget::StandardOutput() {
    return std::unique_ptr<SampleTarget>(new SampleTarget(stdout, false));
}

std::unique_ptr<SampleTarget> SampleTarget::File(const std::string& path, std::error_code& error) {
    std::FILE* file = csv_platform::OpenForAppending(path, error);
    if (file == nullptr) {
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    return std::unique_ptr<SampleTarget>(new SampleTarget(file, true));
}

SampleTarget::~SampleTarget() {
    Close();
}

bool SampleTarget::Write(std::string_view text) {
    if (file == nullptr) {
        return false;
    }
    std::clearerr(file);
    return std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
}

std::error_code SampleTarget::Close() {
    if (!owned || file == nullptr) {
        return {};
    }
    errno = 0;
    const int closed = std::fclose(file);
    file = nullptr;
    return closed == 0 ? std::error_code()
                       : std::error_code(errno != 0 ? errno : EIO, std::generic_category());
}
