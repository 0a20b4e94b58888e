#include "app/UiState.h"

namespace {

using Row = UiStateSettings;

// clang-format off
// Columns: Reset, Connect, Quit, Interval box, Count box, factor box, CSV file name box,
// start/stop enabled, start/stop caption.
constexpr Row kInitial      = {true,  true,  true,  false, false, false, false, false, "Start"};
constexpr Row kDisconnected = {true,  true,  true,  false, false, false, true,  false, "Start"};
constexpr Row kMeasuring    = {false, false, false, false, false, false, false, true,  "Stop"};
constexpr Row kWorking      = {false, false, false, false, false, false, false, false, "Start"};
constexpr Row kConnected    = {true,  true,  true,  true,  true,  true,  true,  true,  "Start"};
// clang-format on

}  // namespace

const UiStateSettings& SettingsFor(UiState state) {
    switch (state) {
        case UiState::Initial:
            return kInitial;
        case UiState::Measuring:
            return kMeasuring;
        case UiState::Connecting:
        case UiState::Busy:
            return kWorking;
        case UiState::Connected:
            return kConnected;
        case UiState::Disconnected:
            break;
    }
    return kDisconnected;
}

bool IsBusyState(UiState state) {
    return state == UiState::Measuring || state == UiState::Connecting || state == UiState::Busy;
}
