// Dialog units to pixels, computed as the platform's dialog manager does: the horizontal base
// unit is the average width of the 52 Latin letters of the dialog font, the vertical one the
// font's height; x px = x du * baseX / 4 and y px = y du * baseY / 8, rounded. Any thread.
#pragma once

inline constexpr const char* kLatinLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

struct DialogBaseUnits {
    int x = 0;
    int y = 0;
};

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool operator==(const PixelRect&) const = default;
};

// number * numerator / denominator in 64 bits, rounded to nearest with halves away from zero;
// -1 for a zero denominator.
int MulDivRounded(int number, int numerator, int denominator);

// From the pixel width of kLatinLetters and the font's pixel height.
DialogBaseUnits BaseUnitsFromFont(int latinLettersWidth, int fontHeight);

int DialogUnitsToPixelsX(int dialogUnits, const DialogBaseUnits& base);
int DialogUnitsToPixelsY(int dialogUnits, const DialogBaseUnits& base);

// Each of x, y, width and height converted on its own, as dialog creation does.
PixelRect DialogRectToPixels(int x, int y, int width, int height, const DialogBaseUnits& base);
