#include "measure/SampleList.h"

#include <algorithm>

void SampleList::Append(const MeasurementSample& sample) {
    std::lock_guard lock(mutex);
    records.push_back(sample);
}

void SampleList::Clear() {
    std::lock_guard lock(mutex);
    records.clear();
}

std::size_t SampleList::Size() const {
    std::lock_guard lock(mutex);
    return records.size();
}

std::optional<MeasurementSample> SampleList::At(std::size_t index) const {
    std::lock_guard lock(mutex);
    if (index >= records.size()) {
        return std::nullopt;
    }
    return records[index];
}

std::vector<MeasurementSample> SampleList::Snapshot() const {
    std::lock_guard lock(mutex);
    return records;
}

std::vector<MeasurementSample> SampleList::Slice(std::size_t first, std::size_t last) const {
    std::lock_guard lock(mutex);
    const std::size_t end = std::min(last, records.size());
    if (first >= end) {
        return {};
    }
    return std::vector<MeasurementSample>(records.begin() + static_cast<std::ptrdiff_t>(first),
                                          records.begin() + static_cast<std::ptrdiff_t>(end));
}
