#include "graph/LabelTexts.h"

#include <QPaintDevice>
#include <QPainter>

#include "framework/QtText.h"

namespace {

// Well above the texts of one picture; the last values come and go, so the texts are laid out
// afresh beyond it rather than kept for ever.
constexpr qsizetype kMostTexts = 1024;

}  // namespace

LabelTexts::LabelTexts(const QFont& labelFont, const QFont& smallFont)
    : labelFontTexts{labelFont, labelFont, std::nullopt, {}},
      smallFontTexts{smallFont, smallFont, std::nullopt, {}} {}

void LabelTexts::UseDevice(const QPaintDevice& device) {
    const QPoint deviceDpi(device.logicalDpiX(), device.logicalDpiY());
    if (deviceDpi == dpi && labelFontTexts.metrics) {
        return;
    }
    dpi = deviceDpi;
    for (PerFont* perFont : {&labelFontTexts, &smallFontTexts}) {
        perFont->deviceFont = QFont(perFont->font, &device);
        perFont->metrics.emplace(perFont->font, &device);
        perFont->texts.clear();
    }
}

TextSize LabelTexts::SizeOf(const std::string& text, LabelFont font) {
    PerFont& perFont = Of(font);
    return {LaidOut(ToQString(text), perFont).width, perFont.metrics->height()};
}

void LabelTexts::Draw(QPainter& painter, const AxisLabel& label, const QColor& background) {
    static const QPen kTextPen(Qt::black);
    PerFont& perFont = Of(label.font);
    const Laid& laid = LaidOut(ToQString(label.text), perFont);
    const QPoint topLeft(label.topLeft.x, label.topLeft.y);
    painter.fillRect(QRect(topLeft, QSize(laid.width, perFont.metrics->height())), background);
    if (painter.pen() != kTextPen) {
        painter.setPen(kTextPen);
    }
    if (&perFont == &labelFontTexts) {
        painter.drawStaticText(topLeft, laid.text);
        return;
    }
    painter.setFont(perFont.font);
    painter.drawStaticText(topLeft, laid.text);
    painter.setFont(labelFontTexts.font);
}

// Laid out once, for the device's resolution; the width is the advance the font metrics give.
const LabelTexts::Laid& LabelTexts::LaidOut(const QString& text, PerFont& perFont) {
    const auto found = perFont.texts.constFind(text);
    if (found != perFont.texts.cend()) {
        return *found;
    }
    if (perFont.texts.size() >= kMostTexts) {
        perFont.texts.clear();
    }
    QStaticText laid(text);
    laid.setTextFormat(Qt::PlainText);
    laid.prepare(QTransform(), perFont.deviceFont);
    return *perFont.texts.insert(text, {laid, perFont.metrics->horizontalAdvance(text)});
}
