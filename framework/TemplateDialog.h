// The framework's dialog: a window built from a dialog template, with its controls reachable
// by id, data exchange between controls and values, an accelerator table consulted before any
// other key handling, and the commands of its push buttons.
//
// Threads: everything runs on the window thread, except InvokeOnWindowThread, which may be
// called from any thread.
#pragma once

#include <QCursor>
#include <QDialog>
#include <QPointer>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "framework/DialogBuilder.h"
#include "res/Accelerators.h"

// The commands of the OK (id 1) and cancel (id 2) buttons. Enter gives the OK command when the
// dialog has no default button, Esc the cancel command.
inline constexpr int kOkCommandId = 1;
inline constexpr int kCancelCommandId = 2;

class CDataExchange;
class QAbstractButton;
class QButtonGroup;
class QKeyEvent;

class CTemplateDialog : public QDialog {
    Q_OBJECT

public:
    // The template must exist (a missing one is a programming error and aborts).
    explicit CTemplateDialog(int templateId, QWidget* parent = nullptr);
    ~CTemplateDialog() override;

    const DialogTemplate& Template() const { return dialogTemplate; }
    const DialogBaseUnits& BaseUnits() const { return baseUnits; }

    // The control with that id, null when the template has none.
    QWidget* Control(int id) const;
    QAbstractButton* Button(int id) const;
    // The radio group that begins with firstButtonId, null when there is none.
    QButtonGroup* RadioGroup(int firstButtonId) const;

    // The window text of a control. Multi-line boxes separate lines with "\r\n".
    std::string ControlText(int id) const;
    void SetControlText(int id, const std::string& text);
    void EnableControl(int id, bool enable);
    bool IsControlEnabled(int id) const;
    void ShowControl(int id, bool show);
    void FocusControl(int id);
    bool IsButtonChecked(int id) const;
    void CheckButton(int id, bool checked);
    // The index of the checked button in template order, -1 when none is checked.
    int CheckedRadioIndex(int firstButtonId) const;
    // Checks the button with that index and clears the others; any other index clears all.
    void CheckRadioIndex(int firstButtonId, int index);

    // Data exchange: true pulls the controls into the values, with checks; false pushes the
    // values into the controls. False when a check failed (its prompt has been shown).
    bool UpdateData(bool saveAndValidate = true);

    // Ends the modal loop with result; a modeless window is hidden.
    void EndDialog(int result);

    // Runs action on the window thread and returns after it has run; directly when called
    // there. Any thread. The caller must not hold anything the window thread waits for.
    void InvokeOnWindowThread(const std::function<void()>& action);
    // The platform's synchronous application message (measure/AppMessages.h): OnAppMessage
    // runs on the window thread and this returns when it has finished, its boxes included. Any
    // thread, under InvokeOnWindowThread's condition.
    void SendAppMessage(unsigned message);

    void setVisible(bool visible) override;
    void accept() override;
    void reject() override;

protected:
    virtual void DoDataExchange(CDataExchange& exchange);
    // Runs once, just before the window first shows. The base pushes the values.
    virtual bool OnInitDialog();
    // A push button (its id) or a translated accelerator (its command). The base routes
    // kOkCommandId to OnOK, kCancelCommandId to OnCancel and ignores everything else.
    virtual void OnCommand(int id);
    virtual void OnOK();
    virtual void OnCancel();
    // The pointer moved over the window; the place to choose its cursor.
    virtual void OnSetCursor();
    // An application message sent to this window; the base ignores it.
    virtual void OnAppMessage(unsigned message);

    // From now on keys pressed in this window go through the table first.
    void LoadAcceleratorTable(int tableId);
    // From now on Enter and Esc do nothing in this window, whatever modifiers are held: they
    // give neither the OK nor the cancel command.
    void SwallowEnterAndEsc();
    // No close box and no closing by the window system (Alt+F4): only EndDialog closes.
    void DisableCloseBox();
    // Shows the wait cursor over the whole window and all its controls, or restores theirs.
    void SetWindowWaitCursor(bool wait);

    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool HasDefaultButton() const;
    bool IsInThisWindow(QObject* object) const;
    bool TranslateAcceleratorKeyPress(const QKeyEvent& event);
    void ConnectButtonCommands();

    const DialogTemplate& dialogTemplate;
    DialogBaseUnits baseUnits;
    BuiltControls controls;
    const AcceleratorTable* accelerators = nullptr;
    bool initialized = false;
    bool closeBoxDisabled = false;
    bool enterAndEscSwallowed = false;
    bool ending = false;
    bool waitCursorShown = false;
    std::vector<std::pair<QPointer<QWidget>, QCursor>> savedCursors;
};
