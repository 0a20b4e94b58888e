// What the main window shows of a run as its samples arrive: the Received box with the newest
// 50 records of the sample list, and the new samples drawn by a visible graph window. The worker
// only appends to the list and says so; this catches up with the list, at once or, within
// 40 ms of the last time, when that time is up, so a fast run costs a few refreshes per second
// rather than one per sample. Window thread.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <cstddef>

class CQiro7Dlg;

class RunDisplay {
public:
    explicit RunDisplay(CQiro7Dlg& mainWindow);

    // New samples are in the list.
    void SamplesArrived();
    // Shows every sample in the list now.
    void ShowArrived();
    // The list has been cleared and the Received box emptied.
    void Cleared();

private:
    CQiro7Dlg& window;
    QTimer refresh;  // single shot, pending while a showing waits for its time
    QElapsedTimer sinceShown;
    std::size_t shown = 0;  // records of the list the Received box has taken in
};
