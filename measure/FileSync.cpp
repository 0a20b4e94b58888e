#include "measure/FileSync.h"

#include <algorithm>

namespace {

std::atomic<FileSyncFunction> activeSync{&file_sync_platform::SyncData};

}  // namespace

std::error_code SyncFileData(NativeFile file) {
    return activeSync.load()(file);
}

FileSyncFunction SetFileSyncFunction(FileSyncFunction function) {
    const FileSyncFunction previous =
        activeSync.exchange(function != nullptr ? function : &file_sync_platform::SyncData);
    return previous == &file_sync_platform::SyncData ? nullptr : previous;
}

std::error_code SyncFolderOf(const std::string& path) {
    return file_sync_platform::SyncFolder(path);
}

FileSync::FileSync(int descriptor, std::chrono::milliseconds syncPeriod)
    : native(file_sync_platform::NativeOf(descriptor)),
      sync(activeSync.load()),
      period(syncPeriod) {
    try {
        thread = std::thread([this] { SyncLoop(); });
    } catch (const std::system_error& error) {
        // Without the thread only Finish syncs: the file is not kept as promised, so say so.
        firstFailure = error.code();
        failed.store(true, std::memory_order_release);
    }
}

FileSync::~FileSync() {
    Finish();
}

std::error_code FileSync::Finish() {
    if (!finished) {
        finished = true;
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        if (thread.joinable()) {
            thread.join();
        }
        SyncIfWritten();
    }
    return firstFailure;
}

// The period runs from one look to the next, not from the end of a sync, so a write waits at
// most one period plus the sync before it; a sync slower than the period is followed at once.
void FileSync::SyncLoop() {
    auto next = std::chrono::steady_clock::now() + period;
    std::unique_lock lock(mutex);
    while (!wake.wait_until(lock, next, [this] { return stopping; })) {
        lock.unlock();
        SyncIfWritten();
        lock.lock();
        next = std::max(next + period, std::chrono::steady_clock::now());
    }
}

// Writes flagged after the exchange are left for the next look.
void FileSync::SyncIfWritten() {
    if (!unsynced.exchange(false, std::memory_order_acq_rel)) {
        return;
    }
    const std::error_code error = sync(native);
    if (error && !failed.load(std::memory_order_relaxed)) {
        firstFailure = error;
        failed.store(true, std::memory_order_release);
    }
}
