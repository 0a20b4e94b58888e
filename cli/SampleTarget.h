// Where a run's sample lines go: standard output, or a path, opened so that nothing the user did
// not agree to is destroyed:
//  - "-", or a path that is this process's standard output (/dev/stdout, /dev/fd/1): standard
//    output itself;
//  - a missing path: a new file (through a dangling symbolic link: its target);
//  - an existing regular file (also behind a symbolic link, which is written through, never
//    replaced): continued with `append` (a partial last line cut off first), emptied in place
//    with `force` or the person's Yes at the terminal, else refused;
//  - anything else (a FIFO, a device, a socket): opened and written as it is, never deleted.
// A line is written whole or not at all: a failed write cuts a regular file back to its last
// whole line. Lines reach the system at once and, for files, the storage device at least once
// a second and at Close.
// One thread at a time; the object may pass from one thread to another in between.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "cli/Console.h"
#include "measure/FileSync.h"

struct OutputRules {
    bool force = false;   // replace an existing regular file without asking
    bool append = false;  // continue an existing file
    bool mayAsk = false;  // ask the person at the terminal before replacing
};

class SampleTarget {
public:
    // Null when the path cannot be used; failure then holds the message for the user (the path
    // and the reason). A partial last line cut off for `append` is told through Console.
    static std::unique_ptr<SampleTarget> Open(const std::string& path, const OutputRules& rules,
                                              std::string& failure);
    ~SampleTarget();
    SampleTarget(const SampleTarget&) = delete;
    SampleTarget& operator=(const SampleTarget&) = delete;

    // One line, whole. On failure the system's reason is in error, and a regular file has been
    // cut back to its last whole line.
    WriteOutcome Write(std::string_view line, std::error_code& error);
    // Syncs and closes a file (standard output stays open): empty on success.
    std::error_code Close();

    // The path as given, or "standard output".
    const std::string& Name() const { return name; }
    bool IsStandardOutput() const { return standardOutput; }

private:
    SampleTarget(int fileDescriptor, std::string targetName, bool isStandardOutput,
                 bool isRegularFile, std::uint64_t size);
    void CutBack();

    int descriptor;
    std::string name;
    bool standardOutput;
    bool regularFile;
    std::uint64_t wholeLinesSize;    // the file's size after its last whole line
    std::unique_ptr<FileSync> sync;  // regular files only
};

// True when the path names standard output ("-", or the file standard output is).
bool NamesStandardOutput(const std::string& path);
