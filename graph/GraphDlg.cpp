#include "graph/GraphDlg.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <array>
#include <climits>
#include <cstdio>

#include "framework/DataExchange.h"
#include "framework/FrameworkText.h"
#include "framework/MessageBoxes.h"
#include "framework/QtText.h"
#include "measure/AppMessages.h"
#include "measure/TextRules.h"
#include "res/Accelerators.h"
#include "res/DialogTemplates.h"
#include "res/StringTable.h"

namespace {

constexpr std::array kDataTypeRadios = {IDC_IRRADIANCE, IDC_INTEGRAL_IRRADIANCE,
                                        IDC_PEAK_IRRADIANCE};
constexpr int kRangeFirst = 0;
constexpr int kRangeLast = 9999;

std::string RangeTitle(const std::string& caption, int from, int to) {
    return caption + " (" + std::to_string(from) + " - " + std::to_string(to) + ")";
}

// "%6d" of the received samples: the origin entry is not one of them.
std::string CountText(std::size_t entryCount) {
    const std::size_t received = entryCount > 0 ? entryCount - 1 : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%6d", static_cast<int>(received));
    return text;
}

template <typename Widget>
Widget* ControlAs(const CTemplateDialog& dialog, int id) {
    return qobject_cast<Widget*>(dialog.Control(id));
}

}  // namespace

CGraphDlg::CGraphDlg(QWidget* parent)
    : CTemplateDialog(IDD_GRAPH_DIALOG, parent),
      startStopButton(Button(IDC_GRAPH_START_STOP)),
      rangeFromEdit(ControlAs<QLineEdit>(*this, IDC_COUNT_FROM)),
      rangeToEdit(ControlAs<QLineEdit>(*this, IDC_COUNT_TO)),
      countLabel(ControlAs<QLabel>(*this, IDC_GRAPH_COUNT)) {
    QWidget* frame = Control(IDC_REALTIME_GRAPH);
    graphControl.setParent(frame);
    graphControl.setGeometry(0, 0, frame->width(), frame->height());
}

CGraphDlg::~CGraphDlg() = default;

void CGraphDlg::DoDataExchange(CDataExchange& exchange) {
    exchange.Radio(IDC_IRRADIANCE, dataTypeIndex);
    exchange.Radio(IDC_COUNT_ALL, countModeIndex);
    exchange.Text(IDC_GRAPH_INTERVAL, intervalText);
}

bool CGraphDlg::OnInitDialog() {
    CTemplateDialog::OnInitDialog();
    LoadAcceleratorTable(IDR_ACCELERATOR);
    SwallowEnterAndEsc();
    DisableCloseBox();
    return true;
}

void CGraphDlg::OnCommand(int id) {
    if (id == IDC_SETTING) {
        OnSetting();
    } else if (id == IDC_GRAPH_START_STOP) {
        OnStartStop();
    } else {
        CTemplateDialog::OnCommand(id);
    }
}

void CGraphDlg::ResetForRun(double intervalMs) {
    graphControl.ResetData(intervalMs, dataTypeIndex);
    rangeFromEdit->setText(QString::number(kRangeFirst));
    rangeToEdit->setText(QString::number(kRangeLast));
    const std::string caption = DataTypeCaption(dataTypeIndex);
    const std::string title =
        countModeIndex != 0 ? RangeTitle(caption, kRangeFirst, kRangeLast) : caption;
    graphControl.SetRange(countModeIndex, kRangeFirst, kRangeLast);
    graphControl.SetDataType(dataTypeIndex);
    intervalText = FixedPointText(intervalMs / 1000, 1) + " [s]";
    SetCountText();
    setWindowTitle(ToQString(title));
    UpdateData(false);
}

void CGraphDlg::ShowRunSamples(const std::vector<MeasurementSample>& samples) {
    graphControl.LoadEntries(samples);
    SetCountText();
}

void CGraphDlg::AddRunSample(const MeasurementSample& sample, std::size_t number) {
    AddRunSamples({sample}, number);
}

void CGraphDlg::AddRunSamples(const std::vector<MeasurementSample>& samples,
                              std::size_t firstNumber) {
    if (graphControl.AppendEntriesNumbered(samples, firstNumber) == 0) {
        return;
    }
    const std::string text = CountText(graphControl.GetEntryCount());
    InvokeOnWindowThread([this, &text] { countLabel->setText(ToQString(text)); });
}

void CGraphDlg::SetStartCaption(bool start) {
    startStopButton->setText(start ? QStringLiteral("Start") : QStringLiteral("Stop"));
    update();
}

void CGraphDlg::ShowGraphWindow(bool show) {
    setVisible(show);
    if (show) {
        raise();
        activateWindow();
    }
}

void CGraphDlg::OnSetting() {
    UpdateData(true);
    int rangeStart = kRangeFirst;
    int rangeEnd = kRangeLast;
    const bool rangeMode = countModeIndex != 0;
    if (rangeMode) {
        if (!ReadRangeEdit(IDC_COUNT_FROM, rangeStart) || !ReadRangeEdit(IDC_COUNT_TO, rangeEnd)) {
            return;
        }
        // An end above 9999 is reported at the start edit too.
        if (rangeStart > rangeEnd || rangeEnd > kRangeLast) {
            RejectRangeInput(IDC_COUNT_FROM);
            return;
        }
    }
    if (dataTypeIndex < 0 || dataTypeIndex >= static_cast<int>(kDataTypeRadios.size())) {
        return;
    }
    const std::string caption = DataTypeCaption(dataTypeIndex);
    const std::string title = rangeMode ? RangeTitle(caption, rangeStart, rangeEnd) : caption + " ";
    graphControl.SetRange(countModeIndex, rangeStart, rangeEnd);
    graphControl.SetDataType(dataTypeIndex);
    if (rangeMode) {
        rangeFromEdit->setText(QString::number(rangeStart));
        rangeToEdit->setText(QString::number(rangeEnd));
    }
    setWindowTitle(ToQString(title));
    // A window's repaint leaves out children that paint opaquely, as the graph does.
    update();
    graphControl.update();
}

void CGraphDlg::OnStartStop() {
    UpdateData(true);
    if (auto* mainWindow = qobject_cast<CTemplateDialog*>(parentWidget())) {
        mainWindow->SendAppMessage(WM_APP_TOGGLE_MEAS);
    }
}

std::string CGraphDlg::DataTypeCaption(int index) const {
    if (index < 0 || index >= static_cast<int>(kDataTypeRadios.size())) {
        return {};
    }
    return ControlText(kDataTypeRadios[static_cast<std::size_t>(index)]);
}

void CGraphDlg::SetCountText() {
    countLabel->setText(ToQString(CountText(graphControl.GetEntryCount())));
}

bool CGraphDlg::ReadRangeEdit(int editId, int& value) {
    const std::string text = ControlText(editId);
    if (text.empty()) {
        return true;
    }
    if (!IsNumberText(text, false)) {
        RejectRangeInput(editId);
        return false;
    }
    // Digits only, so the parse fails only past the int range: too large either way.
    if (!ParseFrameworkInteger(text, value)) {
        value = INT_MAX;
    }
    return true;
}

void CGraphDlg::RejectRangeInput(int focusId) {
    ShowStringMessage(IDS_CHECK_INPUT_VALUE, MessageIcon::Exclamation, MessageButtons::Ok,
                      static_cast<QWidget*>(this));
    FocusControl(focusId);
}
