// CInstrument: the instrument's line protocol over CUsbDevice, and one operation per command.
// Short-lived: every action builds its own on its own thread, converses and destroys it; one
// thread at a time, no lock. Build it after the USB driver is installed (it keeps that one).
//
// Two result conventions, never mixed:
//  - write operations (Exchange and the Write*, StartMeasurement, StopMeasurement, Calibrate)
//    return 0 on success and -1..-8 on failure (see ExchangeResult);
//  - queries, OpenLink, CheckConnection and StopAndReset return 1 on success and 0 on failure.
#pragma once

#include <string>
#include <string_view>

#include "link/UsbDevice.h"

namespace ExchangeResult {
inline constexpr int kSuccess = 0;
inline constexpr int kOpenFailed = -1;
inline constexpr int kWriteFailed = -2;
inline constexpr int kFirstReadFailed = -3;
inline constexpr int kFirstLineWithoutCr = -4;
inline constexpr int kSecondReadFailed = -5;
inline constexpr int kSecondLineWithoutCr = -6;
inline constexpr int kSecondLineNotEnd = -7;
// A complete reply whose first line is not "OK": the instrument refused the setting or the
// start. Reported by the write operations and StartMeasurement, never by Exchange itself, so
// that a refusal is never taken for success; callers treat it like any other failure code.
inline constexpr int kRefused = -8;
}  // namespace ExchangeResult

class CInstrument : public CUsbDevice {
public:
    static constexpr std::size_t kRequestBufferSize = 65;  // request text and CR: 64 bytes
    static constexpr std::size_t kPacketBufferSize = 65;   // 64 bytes read per packet
    static constexpr int kEmptyPacketSleepMs = 10;
    static constexpr int kIdleLimit = 500;  // gives up after 501 sleeps
    // A patient read waits out a long operation (zero calibration) while data keeps arriving,
    // but gives up after 6001 sleeps, about a minute, of empty packets in a row: a hung
    // instrument that still answers reads would otherwise hold the program for ever.
    static constexpr int kPatientIdleLimit = 6000;
    static constexpr std::size_t kReplyLimitBytes = 1 << 20;

    CInstrument() = default;
    ~CInstrument();

    // --- channel -------------------------------------------------------------------------
    // Leaves the link open on success; productId is empty on failure.
    int OpenLink(std::string& productId);
    // As OpenLink, then closes again.
    int CheckConnection(std::string& productId);
    void CloseLink();
    // One request line: the text and a CR in one bulk OUT transfer. Refuses an empty text
    // and one longer than 63 characters without writing anything.
    int SendCommand(const std::string& request);
    // Hands out the next line, CR included: from pendingText when it holds one, else from
    // packets read until one begins with "END", "NG" or "NO" (or "OK" when not continuation)
    // or the collected text holds a whole line that is exactly one of them. What follows the
    // line stays pending. Empty packets sleep 10 ms each; past the idle limit
    // (kPatientIdleLimit when patient) it returns 1 all the same, with the first line or, when
    // nothing collected holds a CR, all of it. Returns 0 when a pipe read fails (line keeps what
    // was collected, pendingText is left as it was) or more than kReplyLimitBytes were collected.
    int ReadReplyLine(bool continuation, std::string& line, bool patient);
    // Lines are handed out without their CR. With openClose the link is opened first and
    // closed before returning, whatever the result.
    int Exchange(bool openClose, const std::string& request, std::string& firstLine,
                 std::string& secondLine, bool expectEnd, bool patient);
    // Opens and closes the link itself. Data lines end only at a line that is exactly a reply
    // token; success needs at least one data line and the terminator line last. On success
    // data holds the data lines joined by CR.
    int Query(const std::string& request, const std::string& expectedFirstLine,
              const std::string& terminator, std::string& data);
    // "STP" (answered "NO", or "OK" and one more line), then "RM" answered "OK".
    int StopAndReset(bool openClose);

    // Received text after the last line handed out.
    std::string_view PendingText() const {
        return std::string_view(pendingText).substr(pendingStart);
    }
    // Hands the pending text over and empties it (the worker continues the stream with it).
    std::string TakePendingText();

    // --- write operations: 0 or -1..-8 ---------------------------------------------------
    int WriteAveraging(int value);
    int WriteRange(int value);
    int WriteFrequency(int value);
    int WriteCorrectionFactor(const std::string& factorText);
    int WriteCorrectionFactorSwitch(int value);
    int WriteZeroCalibration(int value);
    int WriteAutoPowerOff(int value);
    int WriteAnalogResponse(int value);

    // Opens the link and leaves it open for the stream, whatever the result.
    int StartMeasurement();
    // "STP" over the already open link, one reply read: 0 or -2..-4. replyText is what that
    // read handed out, CR included: one line (on the stream's pipe perhaps a stream line that
    // came before the reply), or text without a CR at the idle limit. The rest stays pending.
    int StopMeasurement(std::string& replyText);
    // Shows its own two messages through the framework's message function.
    int Calibrate();

    // --- queries: 1 or 0 -----------------------------------------------------------------
    int ReadModel(std::string& data);
    int ReadSerialNumber(std::string& data);
    int ReadMaintenanceDate(std::string& data);
    int ReadVersion(std::string& data);
    int ReadTemperature(int sensor, std::string& data);
    int ReadCorrectionFactor(std::string& data);
    int ReadAveraging(std::string& data);
    int ReadRange(std::string& data);
    int ReadFrequency(std::string& data);
    int ReadZeroCalibration(std::string& data);
    int ReadCorrectionFactorSwitch(std::string& data);
    int ReadLastError(std::string& data);
    int ReadAutoPowerOff(std::string& data);
    int ReadAnalogResponse(std::string& data);
    int ReadLog(std::string& data);

private:
    // Open-close write exchange expecting "END"; not patient.
    int WriteSetting(const std::string& request);
    // Opening-closing query expecting "OK" first and "END" last.
    int QueryData(const std::string& request, std::string& data);
    // Steps of the write exchange up to its first reply read: 0, -2, -3 or -4; reply is the
    // text the read handed out, CR included.
    int SendAndReadFirstReply(const std::string& request, std::string& reply, bool patient);
    int ReadSecondLine(std::string& secondLine);
    // True when the loop ended on the end line; collected holds every line read, CRs included.
    bool CollectDataLines(const std::string& endLine, std::string& collected);
    int StopThenReset();

    // Puts the pending text in line; when it holds a CR only up to and including the first,
    // which is then no longer pending.
    bool TakePendingLine(std::string& line);
    // Keeps text as the whole of the pending text.
    void SetPendingText(std::string text);

    // The pending text is pendingText from pendingStart on; lines before it are dropped only
    // when new text is kept, so that handing out a long reply line by line costs linear time.
    std::string pendingText;
    std::size_t pendingStart = 0;
};

// Integer reply rule: leading blanks and a sign allowed, stops at the first non-digit, no
// digits gives 0. Never overflows (saturates).
int ParseReplyInteger(const std::string& text);
