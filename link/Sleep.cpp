#include "link/Sleep.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

void RealSleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::atomic<SleepFunction> activeSleep{&RealSleep};

}  // namespace

void SleepMilliseconds(int milliseconds) {
    activeSleep.load()(milliseconds);
}

SleepFunction SetSleepFunction(SleepFunction function) {
    SleepFunction previous = activeSleep.exchange(function != nullptr ? function : &RealSleep);
    return previous == &RealSleep ? nullptr : previous;
}
