// The executable's own version resource, read through its translation table.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "res/VersionInfo.h"

namespace {

using VersionBlock = std::vector<BYTE>;

std::optional<VersionBlock> ReadOwnVersionBlock() {
    char modulePath[MAX_PATH] = {};
    const DWORD pathLength = GetModuleFileNameA(nullptr, modulePath, MAX_PATH);
    if (pathLength == 0 || pathLength >= MAX_PATH) {
        return std::nullopt;
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(modulePath, &ignored);
    if (size == 0) {
        return std::nullopt;
    }
    VersionBlock block(size);
    if (GetFileVersionInfoA(modulePath, 0, size, block.data()) == 0) {
        return std::nullopt;
    }
    return block;
}

// "\StringFileInfo\llllcccc\" for the first translation entry: language in the low 16 bits,
// code page in the high 16 bits.
std::optional<std::string> StringTablePrefix(VersionBlock& block) {
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length) == 0 ||
        length < sizeof(std::uint32_t)) {
        return std::nullopt;
    }
    std::uint32_t translation = 0;
    std::memcpy(&translation, value, sizeof(translation));
    const unsigned language = translation & 0xFFFFu;
    const unsigned codePage = translation >> 16;
    char prefix[32];
    std::snprintf(prefix, sizeof(prefix), "\\StringFileInfo\\%04X%04X\\", language, codePage);
    return std::string(prefix);
}

}  // namespace

std::optional<std::string> QueryVersionString(const std::string& field) {
    // A name with a separator would address another block, not a string of this table.
    if (field.empty() || field.find('\\') != std::string::npos) {
        return std::nullopt;
    }
    std::optional<VersionBlock> block = ReadOwnVersionBlock();
    if (!block) {
        return std::nullopt;
    }
    const std::optional<std::string> prefix = StringTablePrefix(*block);
    if (!prefix) {
        return std::nullopt;
    }
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(block->data(), (*prefix + field).c_str(), &value, &length) == 0 ||
        value == nullptr) {
        return std::nullopt;
    }
    // The length counts characters and may include the terminating NUL.
    const char* text = static_cast<const char*>(value);
    return std::string(text, strnlen(text, length));
}
