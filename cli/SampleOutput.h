// How the command line writes each sample of a run: the window's CSV line, optionally after
// the computer's arrival time, or one JSON object per line. Pure formatting; any thread.
#pragma once

#include <chrono>
#include <string>

#include "measure/MeasurementSample.h"

enum class SampleFormat { Csv, JsonLines };

struct SampleLineOptions {
    SampleFormat format = SampleFormat::Csv;
    bool timestamps = false;
};

// "2026-03-14T12:34:56.789Z": the time in UTC, ISO 8601 with milliseconds (truncated).
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

// One sample with its line end. CSV without timestamps: exactly the window's CSV line (CR LF).
// CSV with timestamps: the arrival time, a comma, then that line. JSON Lines: SampleDocument
// (JsonOutput.h), the time with timestamps only, and LF.
std::string SampleLine(const MeasurementSample& sample, const SampleLineOptions& options,
                       std::chrono::system_clock::time_point arrival);
