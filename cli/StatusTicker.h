// A status line that keeps itself current: a thread of its own asks for the text four times a
// second and shows it (Console::SetStatus), so that a long wait never looks like a hang. The
// text function runs on that thread; it must guard what it reads.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class StatusTicker {
public:
    explicit StatusTicker(std::function<std::string()> text);
    ~StatusTicker();  // stops the thread and clears the line
    StatusTicker(const StatusTicker&) = delete;
    StatusTicker& operator=(const StatusTicker&) = delete;

private:
    void Run();

    std::function<std::string()> statusText;
    std::mutex mutex;
    std::condition_variable wake;
    bool ending = false;
    std::thread thread;
};
