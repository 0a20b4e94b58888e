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
#else
inline std::chrono::nanoseconds Read(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}
#endif

}  // namespace cpu_clocks

struct ProcessCpuClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<ProcessCpuClock>;
    static constexpr bool is_steady = false;

    static time_point now() {
#ifdef _WIN32
        FILETIME creation, exit, kernel, user;
        GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
        return time_point(cpu_clocks::KernelPlusUser(kernel, user));
#else
        return time_point(cpu_clocks::Read(CLOCK_PROCESS_CPUTIME_ID));
#endif
    }
};

struct ThreadCpuClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<ThreadCpuClock>;
    static constexpr bool is_steady = false;

    static time_point now() {
#ifdef _WIN32
        FILETIME creation, exit, kernel, user;
        GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user);
        return time_point(cpu_clocks::KernelPlusUser(kernel, user));
#else
        return time_point(cpu_clocks::Read(CLOCK_THREAD_CPUTIME_ID));
#endif
    }
};
