// The file sync for tests: while a SyncRecorder lives it stands in for the platform's sync of
// every FileSync made meanwhile, counts the calls and answers them with the given codes in
// order, then with success. One at a time; its calls come from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <system_error>
#include <vector>

#include "measure/FileSync.h"

struct SyncRecorderState {
    std::mutex mutex;
    std::condition_variable called;
    std::size_t calls = 0;
    std::deque<std::error_code> answers;
};

class SyncRecorder {
public:
    explicit SyncRecorder(std::vector<std::error_code> answers = {}) {
        {
            std::lock_guard lock(state.mutex);
            state.calls = 0;
            state.answers.assign(answers.begin(), answers.end());
        }
        previous = SetFileSyncFunction(&Record);
    }
    ~SyncRecorder() { SetFileSyncFunction(previous); }
    SyncRecorder(const SyncRecorder&) = delete;
    SyncRecorder& operator=(const SyncRecorder&) = delete;

    std::size_t Calls() const {
        std::lock_guard lock(state.mutex);
        return state.calls;
    }
    // Waits until there have been `calls` syncs; false when a watchdog of 30 s ends the wait
    // first (a hang, not a measured time).
    bool WaitForCalls(std::size_t calls) const {
        std::unique_lock lock(state.mutex);
        return state.called.wait_for(lock, std::chrono::seconds(30),
                                     [calls] { return state.calls >= calls; });
    }

private:
    static std::error_code Record(NativeFile) {
        std::error_code answer;
        {
            std::lock_guard lock(state.mutex);
            ++state.calls;
            if (!state.answers.empty()) {
                answer = state.answers.front();
                state.answers.pop_front();
            }
        }
        state.called.notify_all();
        return answer;
    }

    static inline SyncRecorderState state;

    FileSyncFunction previous = nullptr;
};
