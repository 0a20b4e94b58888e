// Records (topic, payload) kept on disk until the broker has them: a first-in, first-out queue in
// a folder of its own, durable across crashes and power loss, bounded in bytes.
//
// Each record gets an id of the spool's own, one more than the last, also across restarts, so a
// reader can say "delivered up to id N" (Acknowledge). Records are appended to segment files of
// a few MiB; whole segments go once every record in them is acknowledged, and the oldest go
// first when the spool would outgrow its bound, delivered or not.
//
// Threads: every call is thread-safe. Append is meant for one producer thread and Read /
// WaitForRecordsAfter / Acknowledge for one reader thread; calls meet at one mutex, held for one
// file write or one read of at most kMaxReadBytes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

class FileSync;
class SpoolFolderLock;

struct SpoolOptions {
    // The most the segment files may hold together; at least four segments' worth (smaller
    // bounds get smaller segments).
    std::uint64_t maxBytes = 256ull << 20;
    std::uint64_t segmentBytes = 4ull << 20;
    // Appended records reach the storage device within this period; the acknowledged position is
    // written at most once a period.
    std::chrono::milliseconds syncPeriod{1000};
};

struct SpoolRecord {
    std::uint64_t id = 0;
    std::string topic;
    std::string payload;
};

// What Open found.
struct SpoolOpenReport {
    std::uint64_t pendingRecords = 0;  // not yet acknowledged, to be delivered
    std::uint64_t tornBytes = 0;       // an incomplete or damaged last record, cut off
};

struct SpoolCounters {
    std::uint64_t lastId = 0;              // of the newest record appended, ever (0: none yet)
    std::uint64_t acknowledgedId = 0;      // everything up to it is delivered or gone
    std::uint64_t pendingRecords = 0;      // held and not acknowledged
    std::uint64_t droppedRecords = 0;      // removed by the bound since Open, delivered or not
    std::uint64_t droppedUndelivered = 0;  // of those, not acknowledged
    std::uint64_t damagedBytes = 0;        // skipped while reading: a damaged record and the
                                           // rest of its segment
};

struct SpoolAppendResult {
    std::uint64_t id = 0;  // 0 when the record was not appended
    std::error_code error;
    // Records not yet acknowledged that this append pushed out of the bound.
    std::uint64_t droppedUndelivered = 0;
};

class Spool {
public:
    // On-disk size of a record: this many bytes besides its topic and payload.
    static constexpr std::uint64_t kRecordHeaderBytes = 22;
    static constexpr std::size_t kMaxTopicBytes = 65535;
    static constexpr std::size_t kMaxPayloadBytes = 16u << 20;
    static constexpr std::size_t kMaxReadBytes = 1u << 20;

    // Opens the spool in folder (UTF-8, created when missing) and takes it for this process
    // alone. Null with the reason in words when it cannot, e.g. "spool folder ... is in use by
    // another process".
    static std::unique_ptr<Spool> Open(const std::string& folder, const SpoolOptions& options,
                                       SpoolOpenReport& report, std::string& reason);
    ~Spool();  // Close, ignoring its result
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    static std::uint64_t RecordBytes(std::size_t topicBytes, std::size_t payloadBytes) {
        return kRecordHeaderBytes + topicBytes + payloadBytes;
    }

    // Appends one record with one write to the system. On failure (the system's reason in
    // error) nothing is appended; a partial write is cut off again before the next append.
    SpoolAppendResult Append(std::string_view topic, std::string_view payload);

    // Up to maxRecords records with ids after afterId, oldest first, and at most kMaxReadBytes
    // of them beyond the first; they stay in the spool. Records that are gone (dropped by the
    // bound, or damaged) are skipped. Empty error also when there is nothing to read.
    std::error_code Read(std::uint64_t afterId, std::size_t maxRecords,
                         std::vector<SpoolRecord>& records);

    // Waits until a record after afterId is held (true), Wake is called or timeout passes.
    bool WaitForRecordsAfter(std::uint64_t afterId, std::chrono::milliseconds timeout);
    // Makes the current or, when none waits, the next WaitForRecordsAfter return at once.
    void Wake();
    // Called on the appending thread with each record appended (its id, topic and payload),
    // with the spool's lock held: for a reader that takes records as they come. It must not
    // block and must not call the spool. Empty: none.
    using AppendListener =
        std::function<void(std::uint64_t id, std::string_view topic, std::string_view payload)>;
    void SetAppendListener(AppendListener listener);

    // Everything up to id is delivered. Segments holding nothing else are deleted; the position
    // is written to disk (a small file replaced as a whole) at most once a sync period, so a
    // crash repeats at most the last period's deliveries. Ids that were acknowledged or never
    // appended are ignored.
    void Acknowledge(std::uint64_t id);

    SpoolCounters Counters() const;

    // Syncs the records and the acknowledged position, closes the files and releases the
    // folder. The first failure of the spool's life (a write or sync), empty when none; later
    // calls return the same and no other call may follow.
    std::error_code Close();

private:
    struct Segment {
        std::uint64_t firstId = 0;
        std::uint64_t endId = 0;  // one past the last record held
        std::uint64_t bytes = 0;
        std::string path;
    };
    struct ReadCursor {
        std::FILE* file = nullptr;
        std::uint64_t segmentFirstId = 0;
        std::uint64_t nextId = 0;  // the record at offset
        std::uint64_t offset = 0;
    };

    Spool(std::string folder, const SpoolOptions& options);
    std::error_code Load(SpoolOpenReport& report);
    std::error_code OpenCurrentSegment();
    std::error_code StartSegment(std::uint64_t firstId);
    std::uint64_t DropOldestSegment();
    void DeleteAcknowledgedSegments();
    std::uint64_t FirstHeldId() const;
    std::error_code PositionCursor(std::uint64_t id);
    bool ReadRecordAtCursor(const Segment& segment, SpoolRecord& record);
    void CloseCursor();
    void PersistAcknowledged(std::uint64_t id);
    void NoteFailure(std::error_code error);

    const std::string folder;
    const std::uint64_t maxBytes;
    const std::uint64_t segmentBytes;
    const std::chrono::milliseconds syncPeriod;

    mutable std::mutex mutex;
    std::condition_variable recordsArrived;
    bool wakeRequested = false;
    AppendListener appendListener;
    bool closed = false;
    std::deque<Segment> segments;  // oldest first; the last is written to
    std::uint64_t totalBytes = 0;
    std::uint64_t nextId = 1;
    std::uint64_t acknowledgedId = 0;
    std::chrono::steady_clock::time_point lastPersist;
    std::uint64_t droppedRecords = 0;
    std::uint64_t droppedUndelivered = 0;
    std::uint64_t damagedBytes = 0;
    std::FILE* writer = nullptr;
    std::unique_ptr<FileSync> writerSync;
    bool writerDamaged = false;  // a partial write to cut off before the next append
    ReadCursor cursor;
    std::vector<char> buffer;
    std::error_code firstFailure;
    std::unique_ptr<SpoolFolderLock> lock;

    // Writing the acknowledged position, outside the mutex so appends need not wait for it.
    std::mutex persistMutex;
    std::uint64_t persistedAcknowledgedId = 0;  // guarded by persistMutex
};
