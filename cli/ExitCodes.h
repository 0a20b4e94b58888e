// The exit statuses of qiro7-cli, one for each way a command can end. The manual page lists
// them; scripts rely on the numbers, so they never change meaning.
#pragma once

namespace ExitCode {
inline constexpr int kSuccess = 0;
inline constexpr int kUsage = 2;              // the command line or a NAME=VALUE was refused
inline constexpr int kNoInstrument = 3;       // no instrument attached, or none with that serial
inline constexpr int kNoPermission = 4;       // the system does not let this user open it
inline constexpr int kInstrumentBusy = 5;     // another program holds it
inline constexpr int kInstrumentRefused = 6;  // it answered "NG" or "NO", or refused a value
inline constexpr int kLinkFailure = 7;        // a transfer failed, timed out or the reply was wrong
inline constexpr int kOutputFailure = 8;      // the output could not be opened or written
inline constexpr int kBrokerUnknown = 9;      // the MQTT broker's host name is not known
inline constexpr int kBrokerRefused = 10;     // the broker refused the login
inline constexpr int kBrokerNotTrusted = 11;  // its certificate does not verify, or no TLS here
// As a shell reports a program that a signal ended: 128 + the signal's number.
inline constexpr int kInterrupted = 130;  // Ctrl+C during the zero calibration (SIGINT)
inline constexpr int kReaderGone = 141;   // standard output's reader went away (SIGPIPE)
}  // namespace ExitCode
