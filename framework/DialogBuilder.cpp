#include "framework/DialogBuilder.h"

#include <qdrawutil.h>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "framework/QtText.h"

namespace {

// A group box drawn as a dialog frame: the caption sits on the frame's top line instead of
// above it, so the frame keeps clear of controls placed just inside its top edge.
class CaptionFrame final : public QGroupBox {
public:
    CaptionFrame(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        // An etched line, drawn here because styles put their group frame below the title.
        qDrawShadeRect(&painter, rect().adjusted(0, metrics.height() / 2, 0, 0), palette(), true);
        if (title().isEmpty()) {
            return;
        }
        const int gap = metrics.averageCharWidth() / 2;
        const QRect captionRect(metrics.averageCharWidth(), 0,
                                metrics.horizontalAdvance(title()) + 2 * gap, metrics.height());
        painter.fillRect(captionRect, palette().window());
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(captionRect, Qt::AlignCenter, title());
    }
};

bool Has(const ControlTemplate& control, unsigned style) {
    return (control.style & style) != 0;
}

QWidget* MakePushButton(const ControlTemplate& control, QWidget& dialog) {
    auto* button = new QPushButton(ToQString(control.caption), &dialog);
    // Only a declared default button answers Enter; a focused button does not take it over.
    button->setAutoDefault(false);
    button->setDefault(Has(control, kDefaultButton));
    return button;
}

QWidget* MakeEdit(const ControlTemplate& control, QWidget& dialog) {
    if (Has(control, kMultiLine)) {
        auto* box = new QPlainTextEdit(ToQString(control.caption), &dialog);
        box->setReadOnly(Has(control, kReadOnly));
        box->setVerticalScrollBarPolicy(Has(control, kVScroll) ? Qt::ScrollBarAlwaysOn
                                                               : Qt::ScrollBarAlwaysOff);
        // A box that scrolls to the side keeps each line on one row; the others wrap.
        box->setLineWrapMode(Has(control, kAutoHScroll) ? QPlainTextEdit::NoWrap
                                                        : QPlainTextEdit::WidgetWidth);
        box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        box->setFrameShape(Has(control, kBorder) ? QFrame::StyledPanel : QFrame::NoFrame);
        return box;
    }
    auto* box = new QLineEdit(ToQString(control.caption), &dialog);
    box->setReadOnly(Has(control, kReadOnly));
    box->setFrame(Has(control, kBorder));
    return box;
}

QWidget* MakeLabel(const ControlTemplate& control, QWidget& dialog) {
    auto* label = new QLabel(ToQString(control.caption), &dialog);
    // Instrument texts are shown as they came, never read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment((Has(control, kRightAligned) ? Qt::AlignRight : Qt::AlignLeft) |
                        Qt::AlignTop);
    return label;
}

QWidget* MakeGroupBox(const ControlTemplate& control, QWidget& dialog) {
    auto* frame = new CaptionFrame(ToQString(control.caption), &dialog);
    frame->setAttribute(Qt::WA_TransparentForMouseEvents);
    frame->setFocusPolicy(Qt::NoFocus);
    return frame;
}

QWidget* MakeControl(const ControlTemplate& control, QWidget& dialog) {
    switch (control.kind) {
        case ControlKind::PushButton:
            return MakePushButton(control, dialog);
        case ControlKind::RadioButton:
            return new QRadioButton(ToQString(control.caption), &dialog);
        case ControlKind::CheckBox:
            return new QCheckBox(ToQString(control.caption), &dialog);
        case ControlKind::Edit:
            return MakeEdit(control, dialog);
        case ControlKind::Label:
            return MakeLabel(control, dialog);
        case ControlKind::GroupBox:
            return MakeGroupBox(control, dialog);
    }
    return nullptr;
}

void ApplyTabStop(const ControlTemplate& control, QWidget& widget) {
    if (widget.focusPolicy() != Qt::NoFocus && !Has(control, kTabStop)) {
        widget.setFocusPolicy(Qt::ClickFocus);
    }
}

void BuildRadioGroups(const DialogTemplate& dialogTemplate, QWidget& dialog, BuiltControls& built) {
    for (const int leader : RadioGroupLeaders(dialogTemplate)) {
        auto* group = new QButtonGroup(&dialog);
        const std::vector<int> members = RadioGroupMembers(dialogTemplate, leader);
        for (std::size_t index = 0; index < members.size(); ++index) {
            group->addButton(static_cast<QAbstractButton*>(built.byId.at(members[index])),
                             static_cast<int>(index));
        }
        built.radioGroups.emplace(leader, group);
    }
}

// The largest frame ends lowest, so nested frames stay visible on top of their outer frame.
void StackGroupBoxesBelow(const BuiltControls& built) {
    std::vector<QWidget*> frames;
    for (const BuiltControl& control : built.inOrder) {
        if (control.source->kind == ControlKind::GroupBox) {
            frames.push_back(control.widget);
        }
    }
    std::stable_sort(frames.begin(), frames.end(), [](const QWidget* a, const QWidget* b) {
        return a->width() * a->height() < b->width() * b->height();
    });
    for (QWidget* frame : frames) {
        frame->lower();
    }
}

}  // namespace

QFont DialogFont(const DialogTemplate& dialogTemplate) {
    QFont font(QString::fromLatin1(dialogTemplate.fontName), dialogTemplate.fontPointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

DialogBaseUnits MeasureDialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    return BaseUnitsFromFont(metrics.horizontalAdvance(QString::fromLatin1(kLatinLetters)),
                             metrics.height());
}

BuiltControls BuildDialogControls(const DialogTemplate& dialogTemplate, QWidget& dialog,
                                  const DialogBaseUnits& units) {
    // Made in template order, the widgets' focus chain is the template's tab order.
    BuiltControls built;
    for (const ControlTemplate& control : dialogTemplate.controls) {
        QWidget* widget = MakeControl(control, dialog);
        const PixelRect rect =
            DialogRectToPixels(control.x, control.y, control.width, control.height, units);
        widget->setGeometry(rect.x, rect.y, rect.width, rect.height);
        ApplyTabStop(control, *widget);
        built.inOrder.push_back({&control, widget});
        if (control.id != IDC_STATIC) {
            built.byId.emplace(control.id, widget);
        }
    }
    BuildRadioGroups(dialogTemplate, dialog, built);
    StackGroupBoxesBelow(built);
    return built;
}
