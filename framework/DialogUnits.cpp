#include "framework/DialogUnits.h"

#include <cstdint>

int MulDivRounded(int number, int numerator, int denominator) {
    if (denominator == 0) {
        return -1;
    }
    const std::int64_t product = static_cast<std::int64_t>(number) * numerator;
    const bool negative = (product < 0) != (denominator < 0);
    const std::int64_t magnitude = product < 0 ? -product : product;
    const std::int64_t divisor = denominator < 0 ? -static_cast<std::int64_t>(denominator)
                                                 : static_cast<std::int64_t>(denominator);
    const std::int64_t rounded = (magnitude + divisor / 2) / divisor;
    return static_cast<int>(negative ? -rounded : rounded);
}

DialogBaseUnits BaseUnitsFromFont(int latinLettersWidth, int fontHeight) {
    return {(latinLettersWidth / 26 + 1) / 2, fontHeight};
}

int DialogUnitsToPixelsX(int dialogUnits, const DialogBaseUnits& base) {
    return MulDivRounded(dialogUnits, base.x, 4);
}

int DialogUnitsToPixelsY(int dialogUnits, const DialogBaseUnits& base) {
    return MulDivRounded(dialogUnits, base.y, 8);
}

PixelRect DialogRectToPixels(int x, int y, int width, int height, const DialogBaseUnits& base) {
    return {DialogUnitsToPixelsX(x, base), DialogUnitsToPixelsY(y, base),
            DialogUnitsToPixelsX(width, base), DialogUnitsToPixelsY(height, base)};
}
