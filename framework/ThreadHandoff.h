// Marks a call handed to another thread through Qt's event queue, for ThreadSanitizer. The
// queue's own lock orders everything the sender did before posting before the call, and the
// call before whatever a blocked sender does after it returns; but the system's Qt is not built
// for the sanitizer, so without these marks every such hand-off would be reported as a race.
// They cost nothing in any other build. Any thread.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define QIRO7_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QIRO7_THREAD_SANITIZER 1
#endif
#endif

#ifdef QIRO7_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>

// One token stands for the queue: every hand-off orders against all earlier ones, as the
// queue's lock does.
inline char threadHandoffToken = 0;

// Before posting a call, and at the end of a call a sender waits for.
inline void HandOff() {
    __tsan_release(&threadHandoffToken);
}
// First thing in a posted call, and in a waiting sender once the call has returned.
inline void TakeOver() {
    __tsan_acquire(&threadHandoffToken);
}
#else
inline void HandOff() {}
inline void TakeOver() {}
#endif

#include <utility>

// The call to post, wrapped so the hand-off is marked after Qt has moved it, captures and all,
// into the object that carries it: that move happens after invokeMethod was entered, and only a
// mark made after it covers the captures the call reads on the other thread. The call itself
// starts with TakeOver.
template <typename Call>
class HandedOffCall {
public:
    explicit HandedOffCall(Call toPost) : call(std::move(toPost)) {}
    HandedOffCall(HandedOffCall&& other) noexcept : call(std::move(other.call)) { HandOff(); }
    HandedOffCall(const HandedOffCall& other) : call(other.call) { HandOff(); }
    HandedOffCall& operator=(const HandedOffCall&) = delete;
    HandedOffCall& operator=(HandedOffCall&&) = delete;
    ~HandedOffCall() = default;

    decltype(auto) operator()() {
        TakeOver();
        return call();
    }

private:
    Call call;
};
