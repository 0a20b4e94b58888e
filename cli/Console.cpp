#include "cli/Console.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#ifdef _WIN32
#include <io.h>
#else
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "cli/SampleOutput.h"

namespace {

constexpr std::string_view kPrefix = "qiro7-cli: ";
constexpr std::size_t kDefaultWidth = 80;

#ifdef _WIN32
bool IsTerminal(int descriptor) {
    return _isatty(descriptor) != 0;
}
long WriteSome(int descriptor, const char* bytes, std::size_t size) {
    return _write(descriptor, bytes, static_cast<unsigned>(std::min<std::size_t>(size, 1 << 30)));
}
long ReadSome(int descriptor, char* bytes, std::size_t size) {
    return _read(descriptor, bytes, static_cast<unsigned>(size));
}
bool SameTerminal(int, int) {
    return true;  // two console handles of one process show in the same window
}
#else
bool IsTerminal(int descriptor) {
    return isatty(descriptor) != 0;
}
long WriteSome(int descriptor, const char* bytes, std::size_t size) {
    return ::write(descriptor, bytes, size);
}
long ReadSome(int descriptor, char* bytes, std::size_t size) {
    return ::read(descriptor, bytes, size);
}
bool SameTerminal(int a, int b) {
    struct stat first {};
    struct stat second {};
    return fstat(a, &first) == 0 && fstat(b, &second) == 0 && first.st_rdev == second.st_rdev;
}
#endif

// Terminals that cannot take escape sequences: a dumb one, and the Windows console, whose
// older versions print them as they are.
bool PlainTerminal() {
#ifdef _WIN32
    return true;
#else
    const char* term = std::getenv("TERM");
    return term == nullptr || *term == '\0' || std::string_view(term) == "dumb";
#endif
}

bool IsYes(std::string answer) {
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return answer == "y" || answer == "yes";
}

}  // namespace

WriteOutcome WriteAll(int descriptor, std::string_view text, std::error_code& error) {
    while (!text.empty()) {
        const long written = WriteSome(descriptor, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            const int code = written < 0 ? errno : EIO;
            error = std::error_code(code, std::generic_category());
            return code == EPIPE ? WriteOutcome::ReaderGone : WriteOutcome::Failed;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return WriteOutcome::Written;
}

Console& Console::Get() {
    static Console console;
    return console;
}

Console::Console()
    : errorsAreTerminal(IsTerminal(2)),
      plainTerminal(PlainTerminal()),
      outputSharesTerminal(IsTerminal(1) && IsTerminal(2) && SameTerminal(1, 2)),
      askable(IsTerminal(0) && IsTerminal(2)) {
    statusShown = errorsAreTerminal;
}

void Console::Configure(Verbosity level) {
    const std::lock_guard lock(mutex);
    verbosity = level;
    statusShown = errorsAreTerminal && level != Verbosity::Quiet;
}

void Console::Error(std::string_view message) {
    WriteErrorLine(kPrefix, message);
}

void Console::Warning(std::string_view message) {
    if (verbosity != Verbosity::Quiet) {
        WriteErrorLine(kPrefix, message);
    }
}

void Console::Note(std::string_view message) {
    Warning(message);
}

void Console::Trace(std::string_view message) {
    if (verbosity == Verbosity::Verbose) {
        const std::string time = UtcTimestamp(std::chrono::system_clock::now());
        WriteErrorLine(std::string(kPrefix) + time + " ", message);
    }
}

void Console::Report(std::string_view text, bool evenWhenQuiet) {
    if (verbosity == Verbosity::Quiet && !evenWhenQuiet) {
        return;
    }
    const std::lock_guard lock(mutex);
    EraseStatusLocked();
    std::error_code ignored;
    WriteAll(2, text, ignored);
}

void Console::WriteErrorLine(std::string_view prefix, std::string_view message) {
    std::string line(prefix);
    line.append(message);
    line += '\n';
    const std::lock_guard lock(mutex);
    EraseStatusLocked();
    std::error_code ignored;  // nowhere left to say that standard error failed
    WriteAll(2, line, ignored);
}

void Console::SetStatus(std::string_view text) {
    if (!statusShown) {
        return;
    }
    const std::size_t width = TerminalWidth();
    const std::string_view shown = text.substr(0, width > 1 ? width - 1 : 0);
    const std::lock_guard lock(mutex);
    if (statusLength > 0 && statusOnScreen == shown) {
        return;
    }
    std::string line = "\r";
    line.append(shown);
    if (plainTerminal) {
        line.append(statusLength > shown.size() ? statusLength - shown.size() : 0, ' ');
    } else {
        line += "\x1b[K";
    }
    std::error_code ignored;
    WriteAll(2, line, ignored);
    statusLength = std::max<std::size_t>(shown.size(), 1);
    statusOnScreen = shown;
}

void Console::ClearStatus() {
    const std::lock_guard lock(mutex);
    EraseStatusLocked();
}

void Console::EraseStatusLocked() {
    if (statusLength == 0) {
        return;
    }
    const std::string erase =
        plainTerminal ? "\r" + std::string(statusLength, ' ') + "\r" : std::string("\r\x1b[K");
    std::error_code ignored;
    WriteAll(2, erase, ignored);
    statusLength = 0;
}

std::size_t Console::TerminalWidth() const {
#ifndef _WIN32
    struct winsize size {};
    if (ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
#endif
    return kDefaultWidth;
}

WriteOutcome Console::Out(std::string_view text) {
    const std::lock_guard lock(mutex);
    if (outputSharesTerminal) {
        EraseStatusLocked();
    }
    std::error_code error;
    const WriteOutcome outcome = WriteAll(1, text, error);
    if (outcome != WriteOutcome::Written && outputFailure == WriteOutcome::Written) {
        outputFailure = outcome;
        outputError = error;
    }
    return outcome;
}

WriteOutcome Console::FirstOutputFailure(std::error_code& error) const {
    const std::lock_guard lock(mutex);
    error = outputError;
    return outputFailure;
}

bool Console::AskYesNo(std::string_view question) {
    const std::lock_guard lock(mutex);
    EraseStatusLocked();
    std::string prompt(kPrefix);
    prompt.append(question);
    prompt += " (y/N) ";
    std::error_code ignored;
    WriteAll(2, prompt, ignored);
    std::string answer;
    char c = 0;
    while (ReadSome(0, &c, 1) == 1 && c != '\n') {
        if (c != '\r') {
            answer += c;
        }
    }
    return IsYes(answer);
}
