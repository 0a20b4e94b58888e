#include "graph/RangeExtremes.h"

#include <algorithm>
#include <bit>

namespace {

ValueRange Merged(const ValueRange& a, const ValueRange& b) {
    return {std::min(a.smallest, b.smallest), std::max(a.largest, b.largest)};
}

}  // namespace

void RangeExtremes::Clear() {
    runs.clear();
}

void RangeExtremes::Append(double value) {
    if (runs.empty()) {
        runs.emplace_back();
    }
    runs[0].push_back({value, value});
    const std::size_t size = runs[0].size();
    for (std::size_t k = 1; (std::size_t{1} << k) <= size; ++k) {
        if (runs.size() == k) {
            runs.emplace_back();
        }
        // The new run of length 2^k ends at the new value; it is two runs of half that length.
        const std::size_t start = size - (std::size_t{1} << k);
        runs[k].push_back(
            Merged(runs[k - 1][start], runs[k - 1][start + (std::size_t{1} << (k - 1))]));
    }
}

std::size_t RangeExtremes::Size() const {
    return runs.empty() ? 0 : runs[0].size();
}

double RangeExtremes::At(std::size_t index) const {
    return runs[0][index].smallest;
}

// Two runs of the largest power of two that fits cover the range, overlapping or not.
ValueRange RangeExtremes::Of(std::size_t first, std::size_t last) const {
    const std::size_t k = std::bit_width(last - first + 1) - 1;
    return Merged(runs[k][first], runs[k][last + 1 - (std::size_t{1} << k)]);
}
