// The command line's two streams as a person at a terminal and a script both need them:
// messages on standard error with the program's prefix, filtered by --quiet and --verbose; a
// status line that is redrawn in place at a terminal and never mixed into another line; and
// results on standard output, whose every write is checked.
//
// Threads: any. One mutex orders every write to both streams, so the measurement worker, the
// status ticker and the main thread never interleave within a line.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <system_error>

enum class Verbosity { Quiet, Normal, Verbose };

// What became of a write to standard output or an output file.
enum class WriteOutcome {
    Written,
    Failed,      // the system refused it (full disk, I/O error, ...); error says why
    ReaderGone,  // the pipe's reader has gone (EPIPE): nobody wants the rest
};

class Console {
public:
    // The process's console: standard input, output and error.
    static Console& Get();

    // Call once, before any other thread writes.
    void Configure(Verbosity verbosity);
    Verbosity Level() const { return verbosity; }

    // "qiro7-cli: message" on standard error. Errors always; warnings and notes not with
    // --quiet; the trace only with --verbose, each line after its UTC time.
    void Error(std::string_view message);
    void Warning(std::string_view message);
    void Note(std::string_view message);
    void Trace(std::string_view message);
    // Text written as it is (the run's summary): not with --quiet, unless it was asked for by
    // name (--json).
    void Report(std::string_view text, bool evenWhenQuiet = false);

    // True when standard error is a terminal and messages are not silenced: a status line
    // (progress, waits) is then shown; otherwise SetStatus does nothing.
    bool ShowsStatus() const { return statusShown; }
    // Replaces the status line, cut to the terminal's width so it never wraps.
    void SetStatus(std::string_view text);
    void ClearStatus();

    // Results on standard output, clearing the status line first when both streams are the
    // same terminal. The first failure is kept for FirstOutputFailure.
    WriteOutcome Out(std::string_view text);
    // The first failed write to standard output: Written when none failed.
    WriteOutcome FirstOutputFailure(std::error_code& error) const;

    // A question for the person at the terminal: "qiro7-cli: question (y/N) " on standard
    // error, the answer read from standard input. Yes only for "y" or "yes" in any case; No for
    // anything else and at the end of input. Only when CanAsk().
    bool AskYesNo(std::string_view question);
    // Standard input and standard error are both terminals: somebody is there to answer.
    bool CanAsk() const { return askable; }

private:
    Console();

    void WriteErrorLine(std::string_view prefix, std::string_view message);
    void EraseStatusLocked();
    std::size_t TerminalWidth() const;

    mutable std::mutex mutex;
    Verbosity verbosity = Verbosity::Normal;
    bool errorsAreTerminal = false;
    bool statusShown = false;
    bool plainTerminal = false;  // TERM=dumb or a Windows console: no escape sequences
    bool outputSharesTerminal = false;
    bool askable = false;
    std::size_t statusLength = 0;  // characters of the status line on screen; 0 when none
    std::string statusOnScreen;    // what it shows, so an unchanged line is not redrawn
    WriteOutcome outputFailure = WriteOutcome::Written;
    std::error_code outputError;
};

// Writes all of text to the descriptor, retrying short writes and interruptions. Written, or
// why not (the system's code in error).
WriteOutcome WriteAll(int descriptor, std::string_view text, std::error_code& error);
