#include "cli/StatusTicker.h"

#include <chrono>

#include "cli/Console.h"

namespace {

constexpr std::chrono::milliseconds kTickEvery{250};

}  // namespace

StatusTicker::StatusTicker(std::function<std::string()> text)
    : statusText(std::move(text)), thread([this] { Run(); }) {}

StatusTicker::~StatusTicker() {
    {
        const std::lock_guard lock(mutex);
        ending = true;
    }
    wake.notify_all();
    thread.join();
    Console::Get().ClearStatus();
}

void StatusTicker::Run() {
    std::unique_lock lock(mutex);
    while (!ending) {
        lock.unlock();
        Console::Get().SetStatus(statusText());
        lock.lock();
        wake.wait_for(lock, kTickEvery, [this] { return ending; });
    }
}
