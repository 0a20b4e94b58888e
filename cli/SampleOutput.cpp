#include "cli/SampleOutput.h"

#include <cstdio>
#include <ctime>

#include "cli/JsonOutput.h"
#include "measure/CsvLine.h"

std::string UtcTimestamp(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto sinceEpoch = floor<milliseconds>(time.time_since_epoch());
    const auto seconds = floor<std::chrono::seconds>(sinceEpoch);
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &whole);
#else
    gmtime_r(&whole, &utc);
#endif
    char text[80];  // room for any int the fields could hold
    std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>((sinceEpoch - seconds).count()));
    return text;
}

std::string SampleLine(const MeasurementSample& sample, const SampleLineOptions& options,
                       std::chrono::system_clock::time_point arrival) {
    if (options.format == SampleFormat::Csv) {
        return options.timestamps ? UtcTimestamp(arrival) + "," + CsvLine(sample) : CsvLine(sample);
    }
    return JsonLine(
        SampleDocument(sample, options.timestamps ? std::optional(arrival) : std::nullopt));
}
