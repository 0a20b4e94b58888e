// The program's version data: on Windows the version resource of the executable, elsewhere
// the same fields compiled in from the build's one version number.
#pragma once

#include <optional>
#include <string>

// The value of a string field of the running executable's version data ("FileDescription",
// "FileVersion", ...), read through the translation table; empty when absent.
std::optional<std::string> QueryVersionString(const std::string& field);
