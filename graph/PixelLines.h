// Solid 1-pixel lines written straight into a 32-bit image, pixel for pixel as Qt's raster
// painter draws each line on its own with a 1-pixel square-cap pen and no antialiasing: both
// end pixels included, a line of one point is that pixel, and nothing outside the clip
// rectangle is touched. The painter's per-line and per-pixel costs would dominate a curve of
// thousands of segments. No Qt; the caller owns the image and keeps it to one thread.
#pragma once

#include <cstdint>
#include <vector>

#include "graph/AxisScaling.h"

// The image as a painter sees it, also when it paints a widget into its window's image: lines
// come in the caller's coordinates, are cut one pixel around the whole image and are written
// inside the clip rectangle only.
struct PixelBuffer {
    std::uint32_t* pixels = nullptr;  // the image's first row
    int stride = 0;                   // pixels from one row to the next
    int width = 0;                    // of the whole image
    int height = 0;
    AxisPoint origin;       // where the caller's (0, 0) lies in the image
    AxisPoint clipTopLeft;  // the pixels that may be written, both corners included
    AxisPoint clipBottomRight;
};

// All of an image, with the caller's coordinates its own.
PixelBuffer WholeImage(std::uint32_t* pixels, int stride, int width, int height);

void DrawPixelLine(const PixelBuffer& buffer, std::uint32_t color, AxisPoint from, AxisPoint to);
// Every pair of neighbouring points joined by a line of its own.
void DrawPixelLines(const PixelBuffer& buffer, std::uint32_t color,
                    const std::vector<AxisPoint>& points);
