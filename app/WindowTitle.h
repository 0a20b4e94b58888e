// Start-up texts: the main window's title from the version data and the application's name
// from the executable's path. Any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

inline constexpr const char* kProductName = "QIRO-7";

// description + " ver " + version. A missing or empty description gives the product name; a
// missing or empty version leaves the " ver " part out.
std::string BuildWindowTitle(const std::optional<std::string>& description,
                             const std::optional<std::string>& version);

// The title from this executable's version data ("FileDescription", "FileVersion").
std::string VersionWindowTitle();

// The file name of path without folders and without its last extension: the application's
// name. Both "/" and "\" separate folders.
std::string ExecutableBaseName(std::string_view path);
