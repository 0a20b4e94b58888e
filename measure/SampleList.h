// The run's samples in order of arrival; index 0 is the run's first sample.
// Threads: the measurement worker appends; the window thread clears (never during a run) and
// reads. Every operation takes the one mutex briefly, so any mix of threads is safe; readers
// get copies, never references into the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "measure/MeasurementSample.h"

class SampleList {
public:
    void Append(const MeasurementSample& sample);
    void Clear();
    std::size_t Size() const;
    // A copy of the record at index; empty when index is not below the size at that moment.
    std::optional<MeasurementSample> At(std::size_t index) const;
    // A copy of the whole list as it stands.
    std::vector<MeasurementSample> Snapshot() const;
    // Copies of the records from index first up to, not including, last, as far as the list
    // reaches at that moment; empty when it does not reach first.
    std::vector<MeasurementSample> Slice(std::size_t first, std::size_t last = SIZE_MAX) const;

private:
    mutable std::mutex mutex;
    std::vector<MeasurementSample> records;
};
