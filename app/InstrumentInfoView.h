// The information read as the main window shows it while it arrives: each text in its box at
// once, the window's values pulled right after the factor text (so the box's text becomes
// correctionFactor, through the framework's parsing and prompt), and, once the read is over,
// the read values kept by the window and pushed to the controls when the read succeeded.
// Window thread.
#pragma once

#include "services/ConnectionServices.h"

class CQiro7Dlg;

class InstrumentInfoView final : public InstrumentReadObserver {
public:
    // The read starts from the window's own conditions.
    explicit InstrumentInfoView(CQiro7Dlg& mainWindow);

    InstrumentInfo& Info() { return info; }
    // After the read: the window takes its values over; returns result.
    int Finish(int result);

    void TextRead(InfoText field, const std::string& text) override;
    void BeforeConditionReads(MeasurementConditions& conditions) override;

private:
    CQiro7Dlg& window;
    InstrumentInfo info;
};
