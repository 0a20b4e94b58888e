// Where a run's sample lines go: standard output, or a file opened the way the window opens its
// CSV file (created when missing, appended to, unbuffered). Every line is handed to the system
// and flushed before Write returns, so a crash or a second Ctrl+C loses nothing written.
// One thread at a time.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

class SampleTarget {
public:
    static std::unique_ptr<SampleTarget> StandardOutput();
    // Null when the file cannot be opened; error then holds the system's code.
    static std::unique_ptr<SampleTarget> File(const std::string& path, std::error_code& error);
    ~SampleTarget();
    SampleTarget(const SampleTarget&) = delete;
    SampleTarget& operator=(const SampleTarget&) = delete;

    // False when the system did not take all of it.
    bool Write(std::string_view text);
    bool IsStandardOutput() const { return !owned; }
    // Closes a file (standard output stays open): empty on success, else the system's code.
    std::error_code Close();

private:
    SampleTarget(std::FILE* target, bool ownsFile) : file(target), owned(ownsFile) {}

    std::FILE* file;
    bool owned;
};
