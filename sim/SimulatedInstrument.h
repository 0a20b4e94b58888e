// SimulatedInstrument: the instrument's firmware, emulated at the level of bulk transfers.
// Bytes written to the bulk OUT endpoint go in through ReceiveBytes; bulk IN packets come out
// of NextPacket. It knows nothing of the driver layer, so any USB emulation can feed it.
//
// Not thread-safe: one thread at a time. SimulatedUsbDriver serialises every call with its own
// mutex; whoever uses this class directly must do the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class SimulatedInstrument {
public:
    static constexpr std::size_t kPacketSize = 64;
    // A request line longer than this (CR excluded) is refused with "NG".
    static constexpr std::size_t kRequestLimit = 63;
    // Stream lines the output FIFO holds when nobody reads; later readings are dropped.
    static constexpr std::size_t kStreamBacklogLimit = 64;
    static constexpr std::int64_t kCalibrationMs = 2000;

    // How queued reply bytes are cut into bulk IN packets (never more than kPacketSize bytes).
    enum class Packetisation {
        LinePerPacket,  // each packet holds one line
        WholeReply,     // each packet holds one whole reply, e.g. "OK\rEND\r"
        FixedSize,      // the byte stream, replies included, cut every packetBytes bytes
        RandomCuts,     // the byte stream cut at random places: 1 to packetBytes bytes each
    };
    // What a read gets when nothing is queued.
    enum class IdleReads {
        EmptyPacket,  // a zero-length packet, as the instrument does
        NoPacket,     // no packet: the read would block until the pipe time-out
    };
    enum class ClockMode {
        Real,  // the instrument's time is the steady clock
        Fast,  // virtual time: a read with nothing queued jumps to the next due event
    };

    struct Identity {
        std::string model = "QIRO-7";
        std::string serialNumber = "70412318";
        std::string maintenanceDate = "2026/03/14";
        std::string version = "1.04";
        std::string detectorTemperature = "24.8";
        std::string controllerTemperature = "27.3";
    };

    // The eight conditions in their wire encodings.
    struct Conditions {
        int range = -1;  // -1 auto, 1..6
        int frequency = 0;
        int averaging = 1;
        std::string factorText = "1.000";
        int factorSwitch = 0;
        int zeroCalibration = 1;
        int autoPowerOff = 2;
        int analogResponse = 0;
    };

    // Ends the stream after `afterLines` lines: with `finalLine` ("NG", "NO") and the stream
    // stops; with an empty finalLine the stream stalls (no more lines, still measuring).
    // A non-zero errorCode becomes the last error.
    struct StreamFault {
        std::size_t afterLines = 0;
        std::string finalLine = "NG";
        int errorCode = 0;
    };

    explicit SimulatedInstrument(ClockMode clock = ClockMode::Real);

    // --- bulk transfers -------------------------------------------------------------------
    // Bytes of one bulk OUT transfer, in any split; requests are taken at each CR.
    void ReceiveBytes(std::string_view bytes);
    // The next bulk IN packet of at most maxBytes (capped at kPacketSize); empty text is a
    // zero-length packet. Nullopt when nothing is queued and idle reads are NoPacket.
    std::optional<std::string> NextPacket(std::size_t maxBytes = kPacketSize);
    // On the real clock: milliseconds until something will be queued (a stream line or the
    // end of a calibration), nullopt when nothing is scheduled. Always nullopt on the fast
    // clock, where NextPacket has already jumped ahead.
    std::optional<std::int64_t> MillisecondsUntilOutput() const;

    // --- controls -------------------------------------------------------------------------
    void SetPacketisation(Packetisation mode, std::size_t packetBytes = kPacketSize);
    // Where RandomCuts cuts: the same seed and the same bytes give the same packets.
    void SetCutSeed(std::uint64_t seed) { cutState = seed; }
    void SetIdleReads(IdleReads mode) { idleReads = mode; }
    void SetClockMode(ClockMode mode);
    ClockMode GetClockMode() const { return clockMode; }
    // Fast clock only: lets virtual time pass (stream lines fall due).
    void AdvanceClock(std::int64_t milliseconds);
    std::int64_t NowMs() const;

    // From the n-th line of the request log (counting from 1) on, nothing is executed or
    // answered and the stream stops sending: the firmware hangs. 0 clears the trigger.
    // Setting either trigger ends a silence in progress.
    void SetSilentFromRequest(std::size_t requestNumber);
    // The same, from the first request with this command word on. Empty clears the trigger.
    void SetSilentFromCommand(const std::string& commandWord);
    bool IsSilent() const { return silent; }
    // Answers every request with this command word by `lines` instead of executing it,
    // e.g. {"NG"} or {"NO"}. An empty list of lines removes the override.
    void SetReplyOverride(const std::string& commandWord, std::vector<std::string> lines);
    void SetStreamFault(std::optional<StreamFault> fault) { streamFault = std::move(fault); }
    // The next stream lines are these texts, one per period, before generated readings resume.
    void SetScriptedStream(std::vector<std::string> lines);
    // A lit detector makes "CAL" fail with "OK","NG".
    void SetDetectorLit(bool lit) { detectorLit = lit; }

    // State is plain data; these setters bypass the argument checks of the write commands,
    // as the instrument's own panel would (e.g. averaging 6).
    void SetConditions(const Conditions& values) { conditions = values; }
    const Conditions& GetConditions() const { return conditions; }
    void SetIdentity(const Identity& values) { identity = values; }
    const Identity& GetIdentity() const { return identity; }
    void SetLastError(int code) { lastError = code; }
    int GetLastError() const { return lastError; }
    void SetLog(std::vector<std::string> lines);
    const std::vector<std::string>& GetLog() const { return log; }

    // Switched off and on: the stream, a calibration, a hang, queued output and a partial
    // request are gone, and the uptime starts again; identity, conditions, last error, log
    // (with a power-on entry), request log and every test control stay.
    void PowerCycle();

    // Every request line received, in order, without its CR (silenced ones included).
    const std::vector<std::string>& RequestLog() const { return requestLog; }
    std::size_t RequestCount() const { return requestLog.size(); }
    void ClearRequestLog() { requestLog.clear(); }

    bool IsStreaming() const { return streaming; }
    bool IsCalibrating() const { return calibrating; }
    // Stream lines sent since the last "CST" (scripted ones included).
    std::size_t StreamLinesSent() const { return streamLines; }
    // Stream lines whose last byte has gone out in a packet since the last "CST".
    std::size_t StreamLinesDelivered() const { return streamLinesDelivered; }
    // Bytes queued for bulk IN.
    std::size_t QueuedBytes() const;

private:
    struct Request {
        std::string word;                     // up to the first space
        std::optional<std::string> argument;  // text after the first space
    };

    void HandleRequest(const std::string& line);
    void Execute(const Request& request);
    bool ExecuteQuery(const Request& request);
    bool ExecuteSettingWrite(const Request& request);
    void ExecuteFactorWrite(const Request& request);
    void ExecuteTemperature(const Request& request);
    void ExecuteCalibrate(const Request& request);
    void ExecuteStart(const Request& request);
    void ExecuteStop(const Request& request);
    void ExecuteReset(const Request& request);
    bool SilenceTriggeredBy(const Request& request) const;

    void QueueReply(const std::vector<std::string>& lines);
    void CatchUp(std::int64_t now);
    void SendStreamLine(std::int64_t lineTimeMs);
    std::string NextReading(std::int64_t lineTimeMs);
    void FinishCalibration();
    void AddLogEntry(const std::string& event);
    std::optional<std::int64_t> NextEventTime() const;
    std::int64_t PeriodMs() const;
    std::string TakePacket(std::size_t maxBytes);

    ClockMode clockMode;
    std::int64_t virtualNowMs = 0;
    std::int64_t realEpochMs = 0;

    Identity identity;
    Conditions conditions;
    int lastError = 0;
    std::vector<std::string> log;
    std::size_t logSequence = 0;  // number of the newest log entry
    std::vector<std::string> requestLog;

    std::string requestText;
    bool requestOverflow = false;

    struct OutputUnit {
        std::string bytes;  // CR-ended lines
        bool streamLine = false;
    };

    // Output FIFO: one unit per reply or stream line.
    std::deque<OutputUnit> output;
    std::size_t queuedStreamLines = 0;
    Packetisation packetisation = Packetisation::LinePerPacket;
    std::size_t packetBytes = kPacketSize;
    std::uint64_t cutState = 0;
    IdleReads idleReads = IdleReads::EmptyPacket;

    std::size_t silentFromRequest = 0;
    std::string silentFromCommand;
    bool silent = false;
    std::map<std::string, std::vector<std::string>> replyOverrides;
    std::optional<StreamFault> streamFault;
    std::deque<std::string> scriptedStream;
    bool detectorLit = false;

    bool streaming = false;
    bool streamStalled = false;
    std::int64_t streamStartMs = 0;
    std::int64_t nextLineDueMs = 0;
    std::size_t streamLines = 0;
    std::size_t streamLinesDelivered = 0;
    double integral = 0.0;
    double peak = 0.0;
    std::uint64_t noiseState = 0x9E3779B97F4A7C15ull;

    bool calibrating = false;
    std::int64_t calibrationDoneMs = 0;
};

// The instrument's number notation: four significant digits and a signed two-digit (or
// longer) exponent, e.g. "1.234E+01". Independent of the C locale.
std::string FormatInstrumentNumber(double value);
