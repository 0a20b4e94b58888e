#include "cli/RunOutput.h"

#include <ctime>
#include <vector>

namespace {

std::tm BrokenDownTime(std::chrono::system_clock::time_point time, bool localTime) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
#ifdef _WIN32
    localTime ? localtime_s(&parts, &seconds) : gmtime_s(&parts, &seconds);
#else
    localTime ? localtime_r(&seconds, &parts) : gmtime_r(&seconds, &parts);
#endif
    return parts;
}

}  // namespace

bool HasTimeFields(const std::string& path) {
    for (std::size_t at = path.find('%'); at != std::string::npos && at + 1 < path.size();
         at = path.find('%', at + 2)) {
        if (path[at + 1] != '%') {
            return true;
        }
    }
    return false;
}

std::string ExpandTimeFields(const std::string& path, std::chrono::system_clock::time_point time,
                             bool localTime) {
    const std::tm parts = BrokenDownTime(time, localTime);
    // strftime gives 0 both for a name that does not fit and for an empty one; a leading
    // character tells them apart.
    const std::string format = "x" + path;
    for (std::size_t capacity = format.size() * 4 + 64; capacity <= 1 << 16; capacity *= 4) {
        std::vector<char> name(capacity);
        // The user's own pattern is the format: that is the point of the option.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        const std::size_t length = std::strftime(name.data(), name.size(), format.c_str(), &parts);
#pragma GCC diagnostic pop
        if (length > 0) {
            return std::string(name.data() + 1, length - 1);
        }
    }
    return path;
}

RunOutput::RunOutput(std::string outputPath, const OutputRules& rules, bool localTime)
    : path(std::move(outputPath)),
      dated(HasTimeFields(path)),
      local(localTime),
      laterRules{rules.force, rules.append, false},
      firstRules(rules) {}

std::string RunOutput::NameAt(std::chrono::system_clock::time_point time) const {
    return dated ? ExpandTimeFields(path, time, local) : path;
}

bool RunOutput::Open(std::chrono::system_clock::time_point now, std::string& failure) {
    currentName = NameAt(now);
    target = SampleTarget::Open(currentName, firstRules, failure);
    if (target != nullptr) {
        currentName = target->Name();
    }
    return target != nullptr;
}

WriteOutcome RunOutput::Write(std::string_view line, std::chrono::system_clock::time_point arrival,
                              std::string& failure) {
    if (dated) {
        const std::string name = NameAt(arrival);
        if (name != currentName) {
            failure = Close();
            currentName = name;
            if (!failure.empty()) {
                return WriteOutcome::Failed;
            }
            target = SampleTarget::Open(name, laterRules, failure);
        }
    }
    if (target == nullptr) {
        return WriteOutcome::Failed;
    }
    std::error_code error;
    const WriteOutcome outcome = target->Write(line, error);
    if (outcome != WriteOutcome::Written) {
        failure = currentName + ": " + error.message();
    }
    return outcome;
}

std::string RunOutput::Close() {
    if (target == nullptr) {
        return {};
    }
    const std::error_code error = target->Close();
    target.reset();
    return error ? currentName + ": " + error.message() : std::string();
}
