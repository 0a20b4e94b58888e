#include "link/LinkTrace.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace {

std::atomic<bool> traceOn{false};
std::mutex traceMutex;
std::shared_ptr<const LinkTraceFunction> traceFunction;  // guarded by traceMutex

}  // namespace

void SetLinkTrace(LinkTraceFunction trace) {
    std::shared_ptr<const LinkTraceFunction> installed;
    if (trace) {
        installed = std::make_shared<const LinkTraceFunction>(std::move(trace));
    }
    const std::lock_guard lock(traceMutex);
    traceFunction.swap(installed);
    traceOn.store(traceFunction != nullptr, std::memory_order_relaxed);
}

bool LinkTraceOn() {
    return traceOn.load(std::memory_order_relaxed);
}

void ReportLinkEvent(LinkEvent event, std::string_view text) {
    if (!LinkTraceOn()) {
        return;
    }
    std::shared_ptr<const LinkTraceFunction> function;
    {
        const std::lock_guard lock(traceMutex);
        function = traceFunction;
    }
    // Called without the lock, so that two threads can trace at once and the function may
    // replace itself.
    if (function != nullptr) {
        (*function)(event, text);
    }
}
