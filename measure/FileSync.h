// Keeping written data on the storage device, not only with the operating system, so that a
// power loss loses at most the last second of a file that samples are written to as they
// arrive. Paths are UTF-8; failures come back as the platform's own error codes.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

// The file as the system knows it: a descriptor on POSIX, a HANDLE on Windows.
#ifdef _WIN32
using NativeFile = void*;
#else
using NativeFile = int;
#endif

// The C runtime's descriptor of an open stream (fileno), for FileSync.
int DescriptorOf(std::FILE* file);

// Syncs the file's written data to its device; empty on success. A file that cannot be synced
// by its nature (a pipe, a terminal, a console) counts as synced.
using FileSyncFunction = std::error_code (*)(NativeFile file);

// The platform's sync (fdatasync, FlushFileBuffers) unless a replacement is installed.
std::error_code SyncFileData(NativeFile file);
// Installs a replacement for SyncFileData (nullptr restores the platform's); returns the
// previous one, nullptr for the platform's. Any thread; a FileSync keeps the one installed
// when it was made.
FileSyncFunction SetFileSyncFunction(FileSyncFunction function);

// Syncs the folder that holds path, so that the name of a file just created there survives a
// power loss. Empty on success; nothing to do on Windows. A folder whose file system cannot
// sync folders counts as synced.
std::error_code SyncFolderOf(const std::string& path);

// Keeps one open file's written data on its device: within one sync period of the first write
// that is not yet on it, also when no other write follows, and at most once a period however
// fast the writes come. A thread of the object's own does the syncs.
// Threads: one thread at a time calls Written and Finish (the object may pass from one thread to
// another in between); Failed on any thread. The file must stay open until Finish has returned.
class FileSync {
public:
    static constexpr std::chrono::milliseconds kPeriod{1000};

    // descriptor: the C runtime's descriptor of the open file (fileno of a FILE*; on Windows
    // the descriptor's own handle is synced). period: the longest a write waits for its sync,
    // the sync's own time aside.
    explicit FileSync(int descriptor, std::chrono::milliseconds period = kPeriod);
    ~FileSync();  // Finish, ignoring its result
    FileSync(const FileSync&) = delete;
    FileSync& operator=(const FileSync&) = delete;

    // After each write to the file: one atomic store, no system call, no lock.
    void Written() noexcept { unsynced.store(true, std::memory_order_release); }

    // True once a sync has failed. Any thread.
    bool Failed() const noexcept { return failed.load(std::memory_order_acquire); }

    // Stops the thread and syncs what is not yet synced. Returns the first failure of the
    // object's life (a sync, or a thread that could not be started), empty when none; later
    // calls return the same. No Written after it.
    std::error_code Finish();

private:
    void SyncLoop();
    void SyncIfWritten();

    const NativeFile native;
    const FileSyncFunction sync;
    const std::chrono::milliseconds period;
    std::atomic<bool> unsynced{false};
    std::atomic<bool> failed{false};
    std::error_code firstFailure;  // the thread's until it has been joined, then the owner's
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;  // guarded by mutex
    bool finished = false;
    std::thread thread;
};

// Implemented once per platform (FileSync_posix.cpp, FileSync_win.cpp).
namespace file_sync_platform {
NativeFile NativeOf(int descriptor);
std::error_code SyncData(NativeFile file);
std::error_code SyncFolder(const std::string& path);
}  // namespace file_sync_platform
