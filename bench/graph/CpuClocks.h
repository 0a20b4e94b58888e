// CPU time as std::chrono clocks: of the whole process (all threads) and of the calling
// thread. On a machine shared with other work they measure what the code costs, where wall
// time would also count the time others had the core.
#pragma once

#include <chrono>

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

namespace cpu_clocks {

#ifdef _WIN32
inline std::chrono::nanoseconds KernelPlusUser(const FILETIME& kernel, const FILETIME& user) {
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return std::chrono::nanoseconds((ticks(kernel) + ticks(user)) * 100);  // 100 ns ticks
}

inline std::chrono::nanoseconds ProcessTime() {
    FILETIME creation, exit, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
    return KernelPlusUser(kernel, user);
}

inline std::chrono::nanoseconds ThreadTime() {
    FILETIME creation, exit, kernel, user;
    GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user);
    return KernelPlusUser(kernel, user);
}
#else
inline std::chrono::nanoseconds Read(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

inline std::chrono::nanoseconds ProcessTime() {
    return Read(CLOCK_PROCESS_CPUTIME_ID);
}

inline std::chrono::nanoseconds ThreadTime() {
    return Read(CLOCK_THREAD_CPUTIME_ID);
}
#endif

template <std::chrono::nanoseconds (*ReadTime)()>
struct Clock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<Clock>;
    static constexpr bool is_steady = false;

    static time_point now() { return time_point(ReadTime()); }
};

}  // namespace cpu_clocks

using ProcessCpuClock = cpu_clocks::Clock<&cpu_clocks::ProcessTime>;
using ThreadCpuClock = cpu_clocks::Clock<&cpu_clocks::ThreadTime>;
