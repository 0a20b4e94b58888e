#include "framework/TemplateDialog.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <algorithm>
#include <cstdlib>

#include "framework/DataExchange.h"
#include "framework/QtText.h"
#include "framework/ThreadHandoff.h"

namespace {

const DialogTemplate& RequireTemplate(int templateId) {
    const DialogTemplate* found = FindDialogTemplate(templateId);
    if (found == nullptr) {
        std::abort();
    }
    return *found;
}

Qt::WindowFlags WindowFlagsFor(const DialogTemplate& dialogTemplate, bool closeBox) {
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if ((dialogTemplate.style & kDialogCaption) != 0) {
        flags |= Qt::WindowTitleHint;
    }
    if ((dialogTemplate.style & kDialogSystemMenu) != 0) {
        flags |= Qt::WindowSystemMenuHint;
        if (closeBox) {
            flags |= Qt::WindowCloseButtonHint;
        }
    }
    return flags;
}

// The virtual-key code of a Qt key, 0 for keys no accelerator table uses.
int VirtualKeyOf(int qtKey) {
    switch (qtKey) {
        case Qt::Key_Escape:
            return VK_KEY_ESCAPE;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return VK_KEY_RETURN;
        default:
            break;
    }
    if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)) {
        return qtKey;
    }
    return 0;
}

unsigned AcceleratorModifiersOf(Qt::KeyboardModifiers modifiers) {
    unsigned flags = 0;
    if (modifiers.testFlag(Qt::ShiftModifier)) {
        flags |= kAccelShift;
    }
    if (modifiers.testFlag(Qt::ControlModifier)) {
        flags |= kAccelControl;
    }
    if (modifiers.testFlag(Qt::AltModifier)) {
        flags |= kAccelAlt;
    }
    return flags;
}

bool IsPointerEvent(QEvent::Type type) {
    return type == QEvent::MouseMove || type == QEvent::Enter || type == QEvent::HoverMove ||
           type == QEvent::HoverEnter;
}

}  // namespace

CTemplateDialog::CTemplateDialog(int templateId, QWidget* parent)
    : QDialog(parent), dialogTemplate(RequireTemplate(templateId)) {
    setFont(DialogFont(dialogTemplate));
    baseUnits = MeasureDialogBaseUnits(font());
    setWindowFlags(WindowFlagsFor(dialogTemplate, true));
    setWindowTitle(ToQString(dialogTemplate.caption));
    setFixedSize(DialogUnitsToPixelsX(dialogTemplate.width, baseUnits),
                 DialogUnitsToPixelsY(dialogTemplate.height, baseUnits));
    controls = BuildDialogControls(dialogTemplate, *this, baseUnits);
    ConnectButtonCommands();
    QCoreApplication::instance()->installEventFilter(this);
}

CTemplateDialog::~CTemplateDialog() = default;

QWidget* CTemplateDialog::Control(int id) const {
    const auto found = controls.byId.find(id);
    return found != controls.byId.end() ? found->second : nullptr;
}

QAbstractButton* CTemplateDialog::Button(int id) const {
    return qobject_cast<QAbstractButton*>(Control(id));
}

QButtonGroup* CTemplateDialog::RadioGroup(int firstButtonId) const {
    const auto found = controls.radioGroups.find(firstButtonId);
    return found != controls.radioGroups.end() ? found->second : nullptr;
}

std::string CTemplateDialog::ControlText(int id) const {
    QWidget* control = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        return ToStdString(edit->text());
    }
    if (auto* box = qobject_cast<QPlainTextEdit*>(control)) {
        return ToStdString(box->toPlainText().replace(QLatin1Char('\n'), QLatin1String("\r\n")));
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        return ToStdString(label->text());
    }
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        return ToStdString(button->text());
    }
    return {};
}

void CTemplateDialog::SetControlText(int id, const std::string& text) {
    QWidget* control = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(ToQString(text));
    } else if (auto* box = qobject_cast<QPlainTextEdit*>(control)) {
        box->setPlainText(ToQString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(ToQString(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(ToQString(text));
    }
}

void CTemplateDialog::EnableControl(int id, bool enable) {
    if (QWidget* control = Control(id)) {
        control->setEnabled(enable);
    }
}

bool CTemplateDialog::IsControlEnabled(int id) const {
    const QWidget* control = Control(id);
    return control != nullptr && control->isEnabled();
}

void CTemplateDialog::ShowControl(int id, bool show) {
    if (QWidget* control = Control(id)) {
        control->setVisible(show);
    }
}

void CTemplateDialog::FocusControl(int id) {
    if (QWidget* control = Control(id)) {
        control->setFocus(Qt::OtherFocusReason);
    }
}

bool CTemplateDialog::IsButtonChecked(int id) const {
    const QAbstractButton* button = Button(id);
    return button != nullptr && button->isChecked();
}

void CTemplateDialog::CheckButton(int id, bool checked) {
    if (QAbstractButton* button = Button(id)) {
        button->setChecked(checked);
    }
}

int CTemplateDialog::CheckedRadioIndex(int firstButtonId) const {
    const QButtonGroup* group = RadioGroup(firstButtonId);
    return group != nullptr ? group->checkedId() : -1;
}

void CTemplateDialog::CheckRadioIndex(int firstButtonId, int index) {
    QButtonGroup* group = RadioGroup(firstButtonId);
    if (group == nullptr) {
        return;
    }
    // An exclusive group refuses to clear its checked button, so exclusivity is lifted while
    // the buttons are set: the group can then show no selection at all.
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) {
        button->setChecked(group->id(button) == index);
    }
    group->setExclusive(true);
}

bool CTemplateDialog::UpdateData(bool saveAndValidate) {
    CDataExchange exchange(*this, saveAndValidate);
    DoDataExchange(exchange);
    return !exchange.Failed();
}

void CTemplateDialog::EndDialog(int result) {
    ending = true;
    done(result);
    ending = false;
}

void CTemplateDialog::InvokeOnWindowThread(const std::function<void()>& action) {
    if (QThread::currentThread() == thread()) {
        action();
        return;
    }
    QMetaObject::invokeMethod(this, HandedOffCall([&action] {
                                  action();
                                  HandOff();
                              }),
                              Qt::BlockingQueuedConnection);
    TakeOver();
}

void CTemplateDialog::SendAppMessage(unsigned message) {
    InvokeOnWindowThread([this, message] { OnAppMessage(message); });
}

void CTemplateDialog::OnAppMessage(unsigned) {}

void CTemplateDialog::setVisible(bool visible) {
    if (visible && !initialized) {
        initialized = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

void CTemplateDialog::accept() {
    OnOK();
}

void CTemplateDialog::reject() {
    OnCancel();
}

void CTemplateDialog::DoDataExchange(CDataExchange&) {}

bool CTemplateDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CTemplateDialog::OnCommand(int id) {
    if (id == kOkCommandId) {
        OnOK();
    } else if (id == kCancelCommandId) {
        OnCancel();
    }
}

void CTemplateDialog::OnOK() {
    if (UpdateData(true)) {
        EndDialog(QDialog::Accepted);
    }
}

void CTemplateDialog::OnCancel() {
    EndDialog(QDialog::Rejected);
}

void CTemplateDialog::OnSetCursor() {}

void CTemplateDialog::LoadAcceleratorTable(int tableId) {
    accelerators = FindAcceleratorTable(tableId);
}

void CTemplateDialog::SwallowEnterAndEsc() {
    enterAndEscSwallowed = true;
}

void CTemplateDialog::DisableCloseBox() {
    closeBoxDisabled = true;
    const bool wasVisible = isVisible();
    setWindowFlags(WindowFlagsFor(dialogTemplate, false));
    if (wasVisible) {
        show();
    }
}

void CTemplateDialog::SetWindowWaitCursor(bool wait) {
    if (wait == waitCursorShown) {
        return;
    }
    waitCursorShown = wait;
    if (wait) {
        QList<QWidget*> widgets = findChildren<QWidget*>();
        widgets.prepend(this);
        for (QWidget* widget : widgets) {
            if (widget->testAttribute(Qt::WA_SetCursor)) {
                savedCursors.emplace_back(widget, widget->cursor());
            }
            widget->setCursor(Qt::WaitCursor);
        }
        return;
    }
    QList<QWidget*> widgets = findChildren<QWidget*>();
    widgets.prepend(this);
    for (QWidget* widget : widgets) {
        widget->unsetCursor();
    }
    for (const auto& [widget, cursor] : savedCursors) {
        if (widget != nullptr) {
            widget->setCursor(cursor);
        }
    }
    savedCursors.clear();
}

bool CTemplateDialog::eventFilter(QObject* watched, QEvent* event) {
    if (!IsInThisWindow(watched)) {
        return false;
    }
    if (event->type() == QEvent::KeyPress) {
        return TranslateAcceleratorKeyPress(*static_cast<QKeyEvent*>(event));
    }
    if (IsPointerEvent(event->type())) {
        OnSetCursor();
    }
    return false;
}

void CTemplateDialog::closeEvent(QCloseEvent* event) {
    if (closeBoxDisabled && !ending) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CTemplateDialog::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enterAndEscSwallowed && (enter || event->key() == Qt::Key_Escape)) {
        event->accept();
        return;
    }
    if (enter && !HasDefaultButton()) {
        OnCommand(kOkCommandId);
        return;
    }
    QDialog::keyPressEvent(event);
}

bool CTemplateDialog::HasDefaultButton() const {
    const QList<QPushButton*> buttons = findChildren<QPushButton*>();
    return std::any_of(buttons.begin(), buttons.end(), [](const QPushButton* button) {
        return button->isDefault() && button->isVisible();
    });
}

bool CTemplateDialog::IsInThisWindow(QObject* object) const {
    const auto* widget = qobject_cast<QWidget*>(object);
    return widget != nullptr && widget->window() == this;
}

bool CTemplateDialog::TranslateAcceleratorKeyPress(const QKeyEvent& event) {
    if (accelerators == nullptr) {
        return false;
    }
    const int virtualKey = VirtualKeyOf(event.key());
    const int command = virtualKey != 0
                            ? TranslateAcceleratorKey(*accelerators, virtualKey,
                                                      AcceleratorModifiersOf(event.modifiers()))
                            : 0;
    if (command == 0) {
        return false;
    }
    OnCommand(command);
    return true;
}

void CTemplateDialog::ConnectButtonCommands() {
    for (const BuiltControl& control : controls.inOrder) {
        if (control.source->kind != ControlKind::PushButton) {
            continue;
        }
        const int id = control.source->id;
        connect(static_cast<QAbstractButton*>(control.widget), &QAbstractButton::clicked, this,
                [this, id] { OnCommand(id); });
    }
}
