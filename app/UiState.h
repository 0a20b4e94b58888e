// The main window's UI states and what each state enables. Any thread (plain data).
#pragma once

enum class UiState : int {
    Disconnected = 0,
    Initial = 1,
    Measuring = 2,
    Connecting = 3,
    Busy = 4,
    Connected = 6,
};

// The per-state part of the window's state change.
struct UiStateSettings {
    bool resetEnabled;
    bool connectEnabled;
    bool quitEnabled;
    bool intervalEnabled;
    bool countEnabled;
    bool correctionFactorEnabled;
    bool csvFileNameEnabled;
    bool startStopEnabled;
    const char* startStopCaption;
};

const UiStateSettings& SettingsFor(UiState state);

// An instrument operation or a run is under way.
bool IsBusyState(UiState state);
