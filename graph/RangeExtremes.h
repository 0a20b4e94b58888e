// The values of a growing list and the smallest and largest of any run of them, each in
// constant time: a table of the extremes of every run whose length is a power of two, which
// grows by one entry per power with each appended value. A plain value type; its owner guards
// it between threads.
#pragma once

#include <cstddef>
#include <vector>

#include "graph/AxisScaling.h"

class RangeExtremes {
public:
    void Clear();
    void Append(double value);
    std::size_t Size() const;
    double At(std::size_t index) const;
    // Entries first to last, both included; first <= last < Size().
    ValueRange Of(std::size_t first, std::size_t last) const;

private:
    // runs[k][i]: the extremes of entries i to i + 2^k - 1; runs[0] holds the values.
    std::vector<std::vector<ValueRange>> runs;
};
