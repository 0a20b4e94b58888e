// The output of a measurement run: standard output, one file, or, when the path holds strftime
// fields ("line3-%Y-%m-%d.csv"), a file per expanded name: a new file starts when the name that a
// line's arrival time gives differs from the current one. Each file holds whole lines only.
// One thread at a time (the measurement worker during the run).
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "cli/SampleTarget.h"

// True when the path has a strftime field ("%%" alone is a plain '%').
bool HasTimeFields(const std::string& path);

// The path with its fields filled in for `time`, in UTC or in the computer's local time.
std::string ExpandTimeFields(const std::string& path, std::chrono::system_clock::time_point time,
                             bool localTime);

class RunOutput {
public:
    // path: empty or "-" for standard output. Files that a later name opens are never asked
    // about: an existing one is continued with `append`, replaced with `force`, else refused.
    RunOutput(std::string path, const OutputRules& rules, bool localTime);

    // Opens the target for the time `now`, before the run starts. False with the message.
    bool Open(std::chrono::system_clock::time_point now, std::string& failure);

    // Writes one line that arrived at `arrival`, in the file its time names. On failure,
    // `failure` holds the message: the file's name and the system's reason.
    WriteOutcome Write(std::string_view line, std::chrono::system_clock::time_point arrival,
                       std::string& failure);

    // Syncs and closes the current file. Empty when that went well, else the message.
    std::string Close();

    bool IsStandardOutput() const { return target != nullptr && target->IsStandardOutput(); }
    // The file written now (or last), as named; "standard output".
    const std::string& CurrentName() const { return currentName; }

private:
    std::string NameAt(std::chrono::system_clock::time_point time) const;

    const std::string path;
    const bool dated;
    const bool local;
    OutputRules laterRules;
    OutputRules firstRules;
    std::string currentName;
    std::unique_ptr<SampleTarget> target;
};
