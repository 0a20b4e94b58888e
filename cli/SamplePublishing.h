// measure --mqtt: every accepted sample into the disk spool, and from there to the broker, at
// least once and in order; the instrument's Connect read and the run's state as retained
// messages. Topics: <prefix>/sample, <prefix>/info (retained), <prefix>/status (retained:
// "online" while a run goes, "waiting" while the instrument is away, "offline" as the
// connection's last will and at the end).
//
// Threads: Publish on the measurement worker; the rest on the main thread between the parts of
// a run.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "measure/MeasurementSample.h"
#include "services/ConnectionServices.h"

class MqttPublisher;
class Spool;

struct PublishingOptions {
    std::string url;  // empty: no publishing
    std::string userName;
    std::string passwordFile;  // empty: the environment variable QIRO7_MQTT_PASSWORD, if set
    std::string caFile;
    std::string certificateFile;
    std::string keyFile;
    std::string clientId;  // empty: qiro7-cli-<host name>-<serial number>
    std::string protocol = "5";
    std::string spoolFolder;  // empty: under the user's (or the service's) state folder
    std::string spoolSize;    // empty: about a week at 10 Hz
};

class SamplePublishing {
public:
    // Checks what can be checked before the instrument is touched: the URL, the password file,
    // the sizes. False with the message (a usage error).
    static bool Check(const PublishingOptions& options, std::string& message);

    // After the first Connect read: opens the spool and connects, before the run begins. Null
    // with the exit status (ExitCode) when the broker refuses for a reason a person must fix
    // (unknown host, refused login, a certificate that does not verify) or the spool cannot
    // be had; an unreachable broker is told and the samples wait in the spool.
    static std::unique_ptr<SamplePublishing> Start(const PublishingOptions& options,
                                                   const InstrumentInfo& info, int& status);
    ~SamplePublishing();
    SamplePublishing(const SamplePublishing&) = delete;
    SamplePublishing& operator=(const SamplePublishing&) = delete;

    // A new part of the run begins (the start, or after the instrument came back): a new run
    // id, sequence numbers from 1, the instrument's read retained, the status "online".
    void BeginRun(const InstrumentInfo& info);
    // The instrument has gone away: the status "waiting".
    void InstrumentAway();

    // Worker thread: one accepted sample into the spool. False when the spool could not take it
    // (failure then says why): the sample is lost for the broker.
    bool Publish(const MeasurementSample& sample, std::chrono::system_clock::time_point arrival,
                 std::string& failure);

    // Waits a little for the spool to be delivered, publishes "offline" and disconnects.
    // Returns the summary's line about it.
    std::string Finish();

private:
    SamplePublishing(std::unique_ptr<Spool> spool, std::string prefix, std::string serialNumber);
    void TellDrops(std::uint64_t dropped);

    std::unique_ptr<Spool> spool;
    std::unique_ptr<MqttPublisher> publisher;
    const std::string prefix;
    std::string serialNumber;
    std::string runId;
    std::uint64_t sequence = 0;
    std::uint64_t droppedTotal = 0;
    std::optional<std::chrono::steady_clock::time_point> lastDropTold;
};
