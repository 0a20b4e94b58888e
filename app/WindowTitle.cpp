#include "app/WindowTitle.h"

#include "res/VersionInfo.h"

namespace {

bool HasText(const std::optional<std::string>& text) {
    return text.has_value() && !text->empty();
}

}  // namespace

std::string BuildWindowTitle(const std::optional<std::string>& description,
                             const std::optional<std::string>& version) {
    std::string title = HasText(description) ? *description : std::string(kProductName);
    if (HasText(version)) {
        title += " ver " + *version;
    }
    return title;
}

std::string VersionWindowTitle() {
    return BuildWindowTitle(QueryVersionString("FileDescription"),
                            QueryVersionString("FileVersion"));
}

std::string ExecutableBaseName(std::string_view path) {
    const std::size_t separator = path.find_last_of("/\\");
    std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string_view::npos && dot > 0) {
        name = name.substr(0, dot);
    }
    return std::string(name);
}
