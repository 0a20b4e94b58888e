// The application messages between the measurement worker, the graph window and the main
// window. Values are those of the platform's application range (WM_APP = 0x8000 and up);
// both message parameters are always 0.
#pragma once

inline constexpr unsigned kAppMessageBase = 0x8000;

// Worker -> main window: "END" ended the stream (completed, or cancelled after a stop request).
inline constexpr unsigned WM_APP_MEAS_DONE = kAppMessageBase + 1;
// Worker -> main window: the instrument answered "NG" or "NO" during the run.
inline constexpr unsigned WM_APP_MEAS_ERROR = kAppMessageBase + 2;
// Worker -> main window: the start failed, a packet read failed or the instrument fell silent.
inline constexpr unsigned WM_APP_MEAS_FAILED = kAppMessageBase + 3;
// Graph window -> main window: its "Start/Stop" was pressed.
inline constexpr unsigned WM_APP_TOGGLE_MEAS = kAppMessageBase + 4;
// Worker -> main window: the stop request has just been sent; at most once per run.
inline constexpr unsigned WM_APP_MEAS_STOPPING = kAppMessageBase + 5;
