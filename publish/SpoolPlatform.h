// The spool's few platform steps (Spool_posix.cpp, Spool_win.cpp). Paths as std::filesystem
// paths; failures as the platform's own error codes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

// A lock on a spool folder for this process alone, taken through a file in it; released when
// the object goes (and by the system when the process ends, however it ends).
class SpoolFolderLock {
public:
    ~SpoolFolderLock();
    SpoolFolderLock(const SpoolFolderLock&) = delete;
    SpoolFolderLock& operator=(const SpoolFolderLock&) = delete;

    // Null with error when the lock cannot be taken; heldElsewhere then tells whether another
    // process holds it.
    static std::unique_ptr<SpoolFolderLock> Take(const std::filesystem::path& lockFile,
                                                 bool& heldElsewhere, std::error_code& error);

private:
    explicit SpoolFolderLock(std::intptr_t lockHandle) : handle(lockHandle) {}
    std::intptr_t handle;
};

namespace spool_platform {
// fopen's modes; null with error on failure.
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode, std::error_code& error);
// The C runtime's descriptor of the file, as FileSync takes it.
int DescriptorOf(std::FILE* file);
// Syncs the file's written data to its device through the program's sync function.
std::error_code SyncFile(std::FILE* file);
// Cuts the open file to size bytes.
std::error_code TruncateFile(std::FILE* file, std::uint64_t size);
// Replaces to with from in one step.
std::error_code RenameOver(const std::filesystem::path& from, const std::filesystem::path& to);
}  // namespace spool_platform
