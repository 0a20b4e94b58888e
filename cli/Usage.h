// What the command line does with what people type: values read with messages that say what was
// wrong, and the nearest valid name offered for a mistyped one. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A whole number from `minimum` to `maximum`, written in decimal digits only. Otherwise
// nullopt, with reason "not a whole number" or "not in range 0 to 999".
std::optional<int> ParseWholeNumber(const std::string& text, int minimum, int maximum,
                                    std::string& reason);

// A length of time: a positive number, optionally with a fraction, and a unit s, m or h
// (seconds without one): "90", "90s", "15m", "1.5h". In seconds; nullopt with the reason.
std::optional<double> ParseDuration(const std::string& text, std::string& reason);

// A size in bytes: a whole number, optionally with K, M or G (1024, 1024², 1024³): "2G", "500M".
// Nullopt with the reason.
std::optional<std::uint64_t> ParseByteSize(const std::string& text, std::string& reason);

// The candidate nearest to `typed` when it is near enough to be a slip of the fingers (a few
// letters wrong, missing, extra or swapped, or a unique beginning); nullopt otherwise.
std::optional<std::string> NearestName(const std::string& typed,
                                       const std::vector<std::string>& candidates);

// "; did you mean measure?" when a candidate is near, else empty.
std::string Suggestion(const std::string& typed, const std::vector<std::string>& candidates);
