// The graph's label texts in its two fonts, each laid out once and kept with its width, so a
// repaint neither measures nor shapes a text it has drawn before. For one paint device
// resolution at a time. Window thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <QPoint>
#include <QStaticText>
#include <optional>
#include <string>

#include "graph/AxisScaling.h"

class QPaintDevice;
class QPainter;

class LabelTexts {
public:
    // Keeps references to the fonts, which must outlive it.
    LabelTexts(const QFont& labelFont, const QFont& smallFont);

    // Call before measuring or drawing: starts over when the device's resolution differs
    // from the last one's.
    void UseDevice(const QPaintDevice& device);
    TextSize SizeOf(const std::string& text, LabelFont font);
    // Black text on a box of the background colour the size of the text, so it covers what
    // lies beneath. The painter has the label font selected, before and after.
    void Draw(QPainter& painter, const AxisLabel& label, const QColor& background);

private:
    struct Laid {
        QStaticText text;
        int width = 0;
    };
    struct PerFont {
        const QFont& font;
        QFont deviceFont;                     // the font as the device in use resolves it
        std::optional<QFontMetrics> metrics;  // for the device in use
        QHash<QString, Laid> texts;
    };

    const Laid& LaidOut(const QString& text, PerFont& perFont);
    PerFont& Of(LabelFont font) {
        return font == LabelFont::Small ? smallFontTexts : labelFontTexts;
    }

    PerFont labelFontTexts;
    PerFont smallFontTexts;
    QPoint dpi;
};
