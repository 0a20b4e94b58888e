// The CSV line of a sample and a writer that appends such lines to a stream.
#pragma once

#include <ostream>
#include <string>

#include "measure/MeasurementSample.h"

// The exact bytes of one CSV line: CsvFields() followed by CR LF, the instrument's text
// untouched, no byte-order mark.
std::string CsvLine(const MeasurementSample& sample);

// Appends CSV lines to a stream the caller opened in binary mode (so every platform writes the
// CR LF of CsvLine unchanged) and keeps open for the writer's life. One thread at a time.
class CsvLineWriter {
public:
    explicit CsvLineWriter(std::ostream& output) : stream(output) {}

    // Writes and flushes one line, so it survives a crash of the program. Returns false when
    // the stream did not take all of it; a failed line does not stop later ones from being
    // tried. Never throws, whatever the stream's exception mask.
    bool WriteLine(const MeasurementSample& sample);
    // True once any line could not be written.
    bool AnyLineFailed() const { return anyLineFailed; }

private:
    std::ostream& stream;
    bool anyLineFailed = false;
};
