#include "graph/PixelLines.h"

#include <algorithm>
#include <cstdint>
#include <utility>

// Coordinates are stepped in 26.6 fixed point, the minor axis in 16.16, with the painter's
// rounding: a line starts and ends half a pixel beyond its points (the square caps) and covers
// the pixels whose centres its major-axis span reaches.

namespace {

constexpr int kOne = 64;  // one pixel in 26.6
constexpr int kHalf = kOne / 2;

struct Ends {
    double x1, y1, x2, y2;
};

// Moves both ends onto [low, high] along axis a, axis b following the line; false when the
// line lies wholly beyond one bound.
bool ClipAxis(double& a1, double& b1, double& a2, double& b2, double low, double high) {
    const auto slope = [&] { return (b2 - b1) / (a2 - a1); };
    if (a1 < low || a1 > high) {
        const double bound = a1 < low ? low : high;
        if (a1 < low ? a2 <= low : a2 >= high) {
            return false;
        }
        b1 += slope() * (bound - a1);
        a1 = bound;
    }
    if (a2 < low || a2 > high) {
        const double bound = a2 < low ? low : high;
        b2 += slope() * (bound - a2);
        a2 = bound;
    }
    return true;
}

// Cuts the line to one pixel around the buffer, across x first, as the painter does.
bool ClipToBounds(Ends& e, int width, int height) {
    return ClipAxis(e.x1, e.y1, e.x2, e.y2, -1.0, width + 1.0) &&
           ClipAxis(e.y1, e.x1, e.y2, e.x2, -1.0, height + 1.0);
}

int Fixed(double value) {
    return static_cast<int>(value * kOne);
}

// One pixel per step along the major axis, from `from` to `to` (26.6, from below to), the
// minor axis moving from minorFrom toward minorTo; plot(major, minor) in whole pixels.
template <typename Plot>
void Step(int from, int to, int minorFrom, int minorTo, Plot plot) {
    const std::int64_t slope = std::int64_t{minorTo - minorFrom} * 65536 / (to - from);
    std::int64_t minor = std::int64_t{minorFrom} * 1024 - (slope >> 1);
    from -= kHalf;
    to += kHalf;
    int major = (from + kHalf) >> 6;
    const int end = (to + kHalf) >> 6;
    if (major == end) {
        return;
    }
    const int round = slope > 0 ? kHalf : 0;
    minor += (std::int64_t{major} * kOne + round - from) * slope >> 6;
    do {
        plot(major, static_cast<int>(minor >> 16));
        minor += slope;
    } while (++major < end);
}

// A line along an axis covers every pixel from one end to the other.
void DrawAxisLine(const PixelBuffer& buffer, std::uint32_t color, AxisPoint from, AxisPoint to) {
    const AxisPoint low = buffer.clipTopLeft;
    const AxisPoint high = buffer.clipBottomRight;
    const auto row = [&](int y) {
        return buffer.pixels + static_cast<std::ptrdiff_t>(y) * buffer.stride;
    };
    if (from.x == to.x) {
        if (from.x < low.x || from.x > high.x) {
            return;
        }
        const int top = std::max(std::min(from.y, to.y), low.y);
        const int bottom = std::min(std::max(from.y, to.y), high.y);
        for (int y = top; y <= bottom; ++y) {
            row(y)[from.x] = color;
        }
    } else if (from.y >= low.y && from.y <= high.y) {
        const int left = std::max(std::min(from.x, to.x), low.x);
        const int right = std::min(std::max(from.x, to.x), high.x);
        if (left <= right) {
            std::fill(row(from.y) + left, row(from.y) + right + 1, color);
        }
    }
}

AxisPoint Moved(AxisPoint point, AxisPoint by) {
    return {point.x + by.x, point.y + by.y};
}

}  // namespace

PixelBuffer WholeImage(std::uint32_t* pixels, int stride, int width, int height) {
    return {pixels, stride, width, height, {0, 0}, {0, 0}, {width - 1, height - 1}};
}

void DrawPixelLine(const PixelBuffer& buffer, std::uint32_t color, AxisPoint from, AxisPoint to) {
    from = Moved(from, buffer.origin);
    to = Moved(to, buffer.origin);
    if (from.x == to.x || from.y == to.y) {
        DrawAxisLine(buffer, color, from, to);
        return;
    }
    Ends ends{static_cast<double>(from.x), static_cast<double>(from.y), static_cast<double>(to.x),
              static_cast<double>(to.y)};
    if (!ClipToBounds(ends, buffer.width, buffer.height)) {
        return;
    }
    const auto plot = [&](int x, int y) {
        if (x >= buffer.clipTopLeft.x && x <= buffer.clipBottomRight.x &&
            y >= buffer.clipTopLeft.y && y <= buffer.clipBottomRight.y) {
            buffer.pixels[static_cast<std::ptrdiff_t>(y) * buffer.stride + x] = color;
        }
    };
    int x1 = Fixed(ends.x1), y1 = Fixed(ends.y1), x2 = Fixed(ends.x2), y2 = Fixed(ends.y2);
    const int dx = x2 > x1 ? x2 - x1 : x1 - x2;
    const int dy = y2 > y1 ? y2 - y1 : y1 - y2;
    if (dx < dy) {
        if (y1 > y2) {
            std::swap(x1, x2);
            std::swap(y1, y2);
        }
        Step(y1, y2, x1, x2, [&](int y, int x) { plot(x, y); });
    } else if (dx > 0) {
        if (x1 > x2) {
            std::swap(x1, x2);
            std::swap(y1, y2);
        }
        Step(x1, x2, y1, y2, plot);
    }
}

// Lines down one pixel column overlap; their pixels are drawn once, from the topmost to the
// bottommost, which is the same set.
void DrawPixelLines(const PixelBuffer& buffer, std::uint32_t color,
                    const std::vector<AxisPoint>& points) {
    std::size_t first = 0;
    while (first + 1 < points.size()) {
        std::size_t last = first;
        int top = points[first].y;
        int bottom = top;
        while (last + 1 < points.size() && points[last + 1].x == points[first].x) {
            ++last;
            top = std::min(top, points[last].y);
            bottom = std::max(bottom, points[last].y);
        }
        if (last > first) {
            DrawPixelLine(buffer, color, {points[first].x, top}, {points[first].x, bottom});
        }
        if (last + 1 < points.size()) {
            DrawPixelLine(buffer, color, points[last], points[last + 1]);
        }
        first = last + 1;
    }
}
