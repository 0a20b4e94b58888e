#include "app/RunDisplay.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "app/Qiro7Dlg.h"
#include "framework/QtText.h"
#include "graph/GraphDlg.h"
#include "res/StringTable.h"

namespace {

constexpr std::size_t kReceivedLines = 50;
constexpr int kRefreshMs = 40;

// The Received box's whole text: each record's line followed by CR LF, oldest first.
std::string ReceivedText(const std::vector<MeasurementSample>& newest) {
    std::string text;
    for (const MeasurementSample& sample : newest) {
        text += sample.rawLine;
        text += "\r\n";
    }
    return text;
}

// True when the box holds one row per shown record and nothing else, so that new records can
// be added as rows.
bool HoldsRowsOnly(const QTextDocument& document, std::size_t rows) {
    return static_cast<std::size_t>(document.blockCount()) == rows + 1 &&
           document.lastBlock().text().isEmpty();
}

// The new records as rows at the end and as many of the oldest rows dropped, in one edit.
// Cursors placed by position lay nothing out; the box lays out again only the rows it shows.
void AppendRows(QTextDocument& document, std::span<const MeasurementSample> records,
                std::size_t dropOldest) {
    QString rows;
    for (const MeasurementSample& record : records) {
        rows += ToQString(record.rawLine) + QLatin1Char('\n');
    }
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    cursor.setPosition(document.characterCount() - 1);
    cursor.insertText(rows);
    if (dropOldest != 0) {
        cursor.setPosition(0);
        cursor.setPosition(document.findBlockByNumber(static_cast<int>(dropOldest)).position(),
                           QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    cursor.endEditBlock();
}

// The box shows the rawLine of the newest 50 of `total` records, the caret at its end so that
// the newest row is in view. `fresh` are the records after the `shown` it held before. When the
// box does not hold one row per record (a line with a line feed spans two), or more rows are
// new than it shows, it is rebuilt from the list.
void ShowNewestRows(CQiro7Dlg& window, std::span<const MeasurementSample> fresh, std::size_t shown,
                    std::size_t total) {
    auto* box = qobject_cast<QPlainTextEdit*>(window.Control(IDC_RECEIVED));
    if (box == nullptr) {
        return;
    }
    QTextDocument& document = *box->document();
    document.setUndoRedoEnabled(false);  // read-only: nothing to undo, nothing to keep
    const std::size_t rows = std::min(shown, kReceivedLines);
    if (fresh.size() < kReceivedLines && HoldsRowsOnly(document, rows)) {
        const std::size_t beyond = rows + fresh.size();
        AppendRows(document, fresh, beyond > kReceivedLines ? beyond - kReceivedLines : 0);
    } else {
        const std::size_t first = total - std::min(total, kReceivedLines);
        window.SetControlText(IDC_RECEIVED, ReceivedText(window.samples.Slice(first, total)));
    }
    // Added rows leave the caret at the end already; moving it there lays them out.
    if (!box->textCursor().atEnd()) {
        box->moveCursor(QTextCursor::End);
    }
    QScrollBar& scroll = *box->verticalScrollBar();
    scroll.setValue(scroll.maximum());
}

}  // namespace

// The box shows nothing but the instrument's numbers: plain Latin text, which lays out the same
// without the shaping engine and much faster.
RunDisplay::RunDisplay(CQiro7Dlg& mainWindow) : window(mainWindow) {
    if (QWidget* box = window.Control(IDC_RECEIVED)) {
        QFont font = box->font();
        font.setStyleStrategy(QFont::PreferNoShaping);
        box->setFont(font);
    }
    refresh.setSingleShot(true);
    QObject::connect(&refresh, &QTimer::timeout, [this] { ShowArrived(); });
}

void RunDisplay::SamplesArrived() {
    if (refresh.isActive()) {
        return;
    }
    const qint64 since = sinceShown.isValid() ? sinceShown.elapsed() : kRefreshMs;
    if (since >= kRefreshMs) {
        ShowArrived();
    } else {
        refresh.start(static_cast<int>(kRefreshMs - since));
    }
}

// A graph window that reloaded the list (Show Graph) may hold more than the box has taken in;
// it skips the samples it holds.
void RunDisplay::ShowArrived() {
    refresh.stop();
    sinceShown.start();
    CGraphDlg* graph = window.GraphWindow();
    const bool feedGraph = graph != nullptr && graph->isVisible();
    // The graph's first entry is its origin, no sample.
    const std::size_t graphHeld =
        feedGraph ? std::max<std::size_t>(graph->GraphControl().GetEntryCount(), 1) - 1 : shown;
    const std::size_t from = std::min(shown, graphHeld);
    const std::vector<MeasurementSample> fresh = window.samples.Slice(from);
    const std::size_t total = from + fresh.size();
    if (total > shown) {
        ShowNewestRows(window, std::span(fresh).subspan(shown - from), shown, total);
        shown = total;
    }
    if (feedGraph && total > graphHeld) {
        graph->AddRunSamples(fresh, from + 1);
    }
}

void RunDisplay::Cleared() {
    refresh.stop();
    shown = 0;
}
