#include "measure/CsvLine.h"

std::string CsvLine(const MeasurementSample& sample) {
    return sample.CsvFields() + "\r\n";
}

bool CsvLineWriter::WriteLine(const MeasurementSample& sample) {
    const std::string line = CsvLine(sample);
    bool written = false;
    try {
        stream.clear();
        stream.write(line.data(), static_cast<std::streamsize>(line.size()));
        stream.flush();
        written = stream.good();
    } catch (...) {
        written = false;
    }
    anyLineFailed = anyLineFailed || !written;
    return written;
}
