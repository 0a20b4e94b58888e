#include "publish/Spool.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "measure/FileSync.h"
#include "publish/SpoolPlatform.h"

namespace fs = std::filesystem;

// A segment file is named after the id of its first record: 20 digits and ".seg". It holds
// records one after another, each: magic, id, topic length, payload length, CRC-32 of
// everything after the CRC's own field and before it (id and lengths), topic, payload; numbers
// little-endian.
namespace {

constexpr std::uint32_t kRecordMagic = 0x31523751;  // "Q7R1"
constexpr std::string_view kSegmentSuffix = ".seg";
constexpr std::size_t kSegmentNameDigits = 20;
constexpr const char* kAcknowledgedFile = "acknowledged";
constexpr const char* kAcknowledgedNewFile = "acknowledged.new";
constexpr const char* kLockFile = "lock";
constexpr std::uint64_t kMinSegmentBytes = 4096;

struct RecordHeader {
    std::uint32_t magic = 0;
    std::uint64_t id = 0;
    std::uint16_t topicBytes = 0;
    std::uint32_t payloadBytes = 0;
    std::uint32_t crc = 0;
};

template <typename T>
void Put(char*& out, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        *out++ = static_cast<char>((value >> (8 * i)) & 0xff);
    }
}

template <typename T>
T Get(const unsigned char*& in) {
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        value |= static_cast<T>(static_cast<T>(*in++) << (8 * i));
    }
    return value;
}

RecordHeader DecodeHeader(const std::array<unsigned char, Spool::kRecordHeaderBytes>& bytes) {
    const unsigned char* in = bytes.data();
    RecordHeader header;
    header.magic = Get<std::uint32_t>(in);
    header.id = Get<std::uint64_t>(in);
    header.topicBytes = Get<std::uint16_t>(in);
    header.payloadBytes = Get<std::uint32_t>(in);
    header.crc = Get<std::uint32_t>(in);
    return header;
}

// The CRC over the id and lengths (bytes 4 to 18 of the header), then topic and payload.
std::uint32_t RecordCrc(const char* idAndLengths, std::string_view topic,
                        std::string_view payload) {
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(idAndLengths), 14);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(topic.data()), static_cast<uInt>(topic.size()));
    crc = crc32(crc, reinterpret_cast<const Bytef*>(payload.data()),
                static_cast<uInt>(payload.size()));
    return static_cast<std::uint32_t>(crc);
}

void EncodeRecord(std::uint64_t id, std::string_view topic, std::string_view payload,
                  std::vector<char>& buffer) {
    buffer.resize(Spool::RecordBytes(topic.size(), payload.size()));
    char* out = buffer.data();
    Put(out, kRecordMagic);
    char* idAndLengths = out;
    Put(out, id);
    Put(out, static_cast<std::uint16_t>(topic.size()));
    Put(out, static_cast<std::uint32_t>(payload.size()));
    Put(out, RecordCrc(idAndLengths, topic, payload));
    std::memcpy(out, topic.data(), topic.size());
    std::memcpy(out + topic.size(), payload.data(), payload.size());
}

fs::path PathOf(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string SegmentName(std::uint64_t firstId) {
    std::string digits = std::to_string(firstId);
    return std::string(kSegmentNameDigits - digits.size(), '0') + digits +
           std::string(kSegmentSuffix);
}

bool ParseSegmentName(const std::string& name, std::uint64_t& firstId) {
    if (name.size() != kSegmentNameDigits + kSegmentSuffix.size() ||
        !name.ends_with(kSegmentSuffix)) {
        return false;
    }
    const char* end = name.data() + kSegmentNameDigits;
    const auto [last, error] = std::from_chars(name.data(), end, firstId);
    return error == std::errc() && last == end && firstId > 0;
}

std::error_code LastErrno() {
    return std::error_code(errno, std::generic_category());
}

// Reads one record header at the file's position; false at the end of the data or a short read.
bool ReadHeader(std::FILE* file, RecordHeader& header) {
    std::array<unsigned char, Spool::kRecordHeaderBytes> bytes{};
    if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        return false;
    }
    header = DecodeHeader(bytes);
    return true;
}

// True when header can be the record expected at offset in a file of fileBytes.
bool Plausible(const RecordHeader& header, std::uint64_t expectedId, std::uint64_t offset,
               std::uint64_t fileBytes) {
    return header.magic == kRecordMagic && header.id == expectedId &&
           header.payloadBytes <= Spool::kMaxPayloadBytes &&
           offset + Spool::RecordBytes(header.topicBytes, header.payloadBytes) <= fileBytes;
}

// Reads topic and payload after header and checks the CRC.
bool ReadBody(std::FILE* file, const RecordHeader& header, SpoolRecord& record) {
    record.id = header.id;
    record.topic.resize(header.topicBytes);
    record.payload.resize(header.payloadBytes);
    if (std::fread(record.topic.data(), 1, record.topic.size(), file) != record.topic.size() ||
        std::fread(record.payload.data(), 1, record.payload.size(), file) !=
            record.payload.size()) {
        return false;
    }
    char idAndLengths[14];
    char* out = idAndLengths;
    Put(out, header.id);
    Put(out, header.topicBytes);
    Put(out, header.payloadBytes);
    return RecordCrc(idAndLengths, record.topic, record.payload) == header.crc;
}

// The bytes of whole, sound records from the start of the file, and how many there are.
std::uint64_t ScanSoundRecords(std::FILE* file, std::uint64_t firstId, std::uint64_t fileBytes,
                               std::uint64_t& count) {
    std::uint64_t offset = 0;
    count = 0;
    RecordHeader header;
    SpoolRecord record;
    while (ReadHeader(file, header) && Plausible(header, firstId + count, offset, fileBytes) &&
           ReadBody(file, header, record)) {
        offset += Spool::RecordBytes(header.topicBytes, header.payloadBytes);
        ++count;
    }
    return offset;
}

std::uint64_t ReadAcknowledgedId(const fs::path& file) {
    std::error_code error;
    std::FILE* in = spool_platform::OpenFile(file, "rb", error);
    if (in == nullptr) {
        return 0;
    }
    char text[32] = {};
    const std::size_t length = std::fread(text, 1, sizeof(text) - 1, in);
    std::fclose(in);
    std::uint64_t id = 0;
    const auto [end, parseError] = std::from_chars(text, text + length, id);
    // A damaged file counts as nothing acknowledged: that only repeats deliveries.
    return parseError == std::errc() && end < text + length && *end == '\n' ? id : 0;
}

}  // namespace

Spool::Spool(std::string folderPath, const SpoolOptions& options)
    : folder(std::move(folderPath)),
      maxBytes(options.maxBytes),
      segmentBytes(std::clamp(options.segmentBytes, kMinSegmentBytes,
                              std::max(kMinSegmentBytes, options.maxBytes / 4))),
      syncPeriod(options.syncPeriod) {}

Spool::~Spool() {
    Close();
}

std::unique_ptr<Spool> Spool::Open(const std::string& folder, const SpoolOptions& options,
                                   SpoolOpenReport& report, std::string& reason) {
    report = SpoolOpenReport();
    const fs::path path = PathOf(folder);
    std::error_code error;
    fs::create_directories(path, error);
    if (error) {
        reason = "cannot create the spool folder " + folder + ": " + error.message();
        return nullptr;
    }
    bool heldElsewhere = false;
    std::unique_ptr<SpoolFolderLock> lock =
        SpoolFolderLock::Take(path / kLockFile, heldElsewhere, error);
    if (lock == nullptr) {
        reason = heldElsewhere ? "the spool folder " + folder + " is in use by another process"
                               : "cannot lock the spool folder " + folder + ": " + error.message();
        return nullptr;
    }
    std::unique_ptr<Spool> spool(new Spool(folder, options));
    spool->lock = std::move(lock);
    if (const std::error_code loadError = spool->Load(report)) {
        reason = "cannot open the spool in " + folder + ": " + loadError.message();
        return nullptr;
    }
    return spool;
}

std::error_code Spool::Load(SpoolOpenReport& report) {
    const fs::path path = PathOf(folder);
    acknowledgedId = persistedAcknowledgedId = ReadAcknowledgedId(path / kAcknowledgedFile);
    lastPersist = std::chrono::steady_clock::now();
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
        std::uint64_t firstId = 0;
        if (ParseSegmentName(Utf8Of(entry.path().filename()), firstId)) {
            segments.push_back({firstId, firstId, 0, Utf8Of(entry.path())});
        }
    }
    if (error) {
        return error;
    }
    std::sort(segments.begin(), segments.end(),
              [](const Segment& a, const Segment& b) { return a.firstId < b.firstId; });
    for (std::size_t i = 0; i < segments.size(); ++i) {
        Segment& segment = segments[i];
        segment.bytes = fs::file_size(PathOf(segment.path), error);
        if (error) {
            return error;
        }
        // Older segments end where the next begins; damage in them shows when they are read.
        if (i + 1 < segments.size()) {
            segment.endId = segments[i + 1].firstId;
            continue;
        }
        std::FILE* file = spool_platform::OpenFile(PathOf(segment.path), "rb", error);
        if (file == nullptr) {
            return error;
        }
        std::uint64_t count = 0;
        const std::uint64_t soundBytes =
            ScanSoundRecords(file, segment.firstId, segment.bytes, count);
        std::fclose(file);
        report.tornBytes = segment.bytes - soundBytes;
        segment.bytes = soundBytes;
        segment.endId = segment.firstId + count;
    }
    for (const Segment& segment : segments) {
        totalBytes += segment.bytes;
    }
    nextId = std::max(segments.empty() ? 1 : segments.back().endId, acknowledgedId + 1);
    DeleteAcknowledgedSegments();
    if (const std::error_code openError = OpenCurrentSegment()) {
        return openError;
    }
    report.pendingRecords = nextId - 1 - std::max(acknowledgedId, FirstHeldId() - 1);
    return {};
}

// Appends go to the last segment, cut back to its sound records; a new one starts when there is
// none or the last one's ids do not run on to nextId.
std::error_code Spool::OpenCurrentSegment() {
    if (segments.empty() || segments.back().endId != nextId) {
        return StartSegment(nextId);
    }
    Segment& current = segments.back();
    std::error_code error;
    writer = spool_platform::OpenFile(PathOf(current.path), "ab", error);
    if (writer == nullptr) {
        return error;
    }
    if ((error = spool_platform::TruncateFile(writer, current.bytes))) {
        return error;
    }
    writerSync = std::make_unique<FileSync>(spool_platform::DescriptorOf(writer), syncPeriod);
    return {};
}

std::error_code Spool::StartSegment(std::uint64_t firstId) {
    const std::string path = Utf8Of(PathOf(folder) / SegmentName(firstId));
    std::error_code error;
    std::FILE* file = spool_platform::OpenFile(PathOf(path), "ab", error);
    if (file == nullptr) {
        return error;
    }
    if (writer != nullptr) {
        NoteFailure(writerSync->Finish());
        writerSync.reset();
        std::fclose(writer);
    }
    writer = file;
    writerSync = std::make_unique<FileSync>(spool_platform::DescriptorOf(writer), syncPeriod);
    // The new name must survive a power loss as well as the records in it.
    NoteFailure(SyncFolderOf(path));
    segments.push_back({firstId, firstId, 0, path});
    return {};
}

std::uint64_t Spool::FirstHeldId() const {
    return segments.empty() ? nextId : segments.front().firstId;
}

void Spool::NoteFailure(std::error_code error) {
    if (error && !firstFailure) {
        firstFailure = error;
    }
}

SpoolAppendResult Spool::Append(std::string_view topic, std::string_view payload) {
    SpoolAppendResult result;
    const std::uint64_t recordBytes = RecordBytes(topic.size(), payload.size());
    std::unique_lock guard(mutex);
    if (closed || writer == nullptr) {
        result.error = std::make_error_code(std::errc::bad_file_descriptor);
        return result;
    }
    if (topic.size() > kMaxTopicBytes || payload.size() > kMaxPayloadBytes ||
        recordBytes > maxBytes / 2) {
        result.error = std::make_error_code(std::errc::value_too_large);
        return result;
    }
    if (writerDamaged) {
        if ((result.error = spool_platform::TruncateFile(writer, segments.back().bytes))) {
            return result;
        }
        writerDamaged = false;
        CloseCursor();  // it may have read the partial bytes ahead
    }
    if (segments.back().bytes > 0 && segments.back().bytes + recordBytes > segmentBytes) {
        if ((result.error = StartSegment(nextId))) {
            return result;
        }
    }
    while (totalBytes + recordBytes > maxBytes && segments.size() > 1) {
        result.droppedUndelivered += DropOldestSegment();
    }
    EncodeRecord(nextId, topic, payload, buffer);
    const std::size_t written = std::fwrite(buffer.data(), 1, buffer.size(), writer);
    if (written != buffer.size() || std::fflush(writer) != 0) {
        result.error = LastErrno();
        std::clearerr(writer);
        writerDamaged = true;
        NoteFailure(result.error);
        return result;
    }
    writerSync->Written();
    Segment& current = segments.back();
    current.bytes += recordBytes;
    current.endId = nextId + 1;
    totalBytes += recordBytes;
    result.id = nextId++;
    if (appendListener) {
        appendListener(result.id, topic, payload);
    }
    guard.unlock();
    recordsArrived.notify_all();
    return result;
}

void Spool::SetAppendListener(AppendListener listener) {
    std::lock_guard guard(mutex);
    appendListener = std::move(listener);
}

std::uint64_t Spool::DropOldestSegment() {
    const Segment oldest = segments.front();
    if (cursor.file != nullptr && cursor.segmentFirstId == oldest.firstId) {
        CloseCursor();
    }
    std::error_code ignored;
    fs::remove(PathOf(oldest.path), ignored);
    segments.pop_front();
    totalBytes -= oldest.bytes;
    const std::uint64_t firstUndelivered = std::max(oldest.firstId, acknowledgedId + 1);
    const std::uint64_t undelivered =
        oldest.endId > firstUndelivered ? oldest.endId - firstUndelivered : 0;
    droppedRecords += oldest.endId - oldest.firstId;
    droppedUndelivered += undelivered;
    return undelivered;
}

void Spool::DeleteAcknowledgedSegments() {
    while (segments.size() > 1 && segments.front().endId <= acknowledgedId + 1) {
        const Segment& oldest = segments.front();
        if (cursor.file != nullptr && cursor.segmentFirstId == oldest.firstId) {
            CloseCursor();
        }
        std::error_code ignored;
        fs::remove(PathOf(oldest.path), ignored);
        totalBytes -= oldest.bytes;
        segments.pop_front();
    }
}

void Spool::CloseCursor() {
    if (cursor.file != nullptr) {
        std::fclose(cursor.file);
    }
    cursor = ReadCursor();
}

// Puts the cursor at record id, or at the first record after it that can be reached: a damaged
// record ends what can be read of its segment.
std::error_code Spool::PositionCursor(std::uint64_t id) {
    auto segment = std::find_if(segments.begin(), segments.end(),
                                [id](const Segment& s) { return id < s.endId; });
    if (segment == segments.end()) {
        CloseCursor();
        return {};
    }
    id = std::max(id, segment->firstId);
    if (cursor.file == nullptr || cursor.segmentFirstId != segment->firstId || cursor.nextId > id) {
        CloseCursor();
        std::error_code error;
        cursor.file = spool_platform::OpenFile(PathOf(segment->path), "rb", error);
        if (cursor.file == nullptr) {
            return error;
        }
        cursor.segmentFirstId = segment->firstId;
        cursor.nextId = segment->firstId;
    }
    std::clearerr(cursor.file);
    if (std::fseek(cursor.file, static_cast<long>(cursor.offset), SEEK_SET) != 0) {
        return LastErrno();
    }
    RecordHeader header;
    while (cursor.nextId < id) {
        if (!ReadHeader(cursor.file, header) ||
            !Plausible(header, cursor.nextId, cursor.offset, segment->bytes) ||
            std::fseek(cursor.file, header.topicBytes + static_cast<long>(header.payloadBytes),
                       SEEK_CUR) != 0) {
            // Unreachable records: the rest of this segment.
            damagedBytes += segment->bytes - cursor.offset;
            const std::uint64_t next = segment->endId;
            CloseCursor();
            return PositionCursor(next);
        }
        cursor.offset += RecordBytes(header.topicBytes, header.payloadBytes);
        ++cursor.nextId;
    }
    return {};
}

bool Spool::ReadRecordAtCursor(const Segment& segment, SpoolRecord& record) {
    RecordHeader header;
    std::clearerr(cursor.file);
    if (!ReadHeader(cursor.file, header) ||
        !Plausible(header, cursor.nextId, cursor.offset, segment.bytes) ||
        !ReadBody(cursor.file, header, record)) {
        return false;
    }
    cursor.offset += RecordBytes(header.topicBytes, header.payloadBytes);
    ++cursor.nextId;
    return true;
}

std::error_code Spool::Read(std::uint64_t afterId, std::size_t maxRecords,
                            std::vector<SpoolRecord>& records) {
    records.clear();
    std::lock_guard guard(mutex);
    std::uint64_t want = std::max(afterId + 1, FirstHeldId());
    std::size_t bytes = 0;
    while (records.size() < maxRecords && want < nextId && bytes < kMaxReadBytes && !closed) {
        if (cursor.file == nullptr || cursor.nextId != want) {
            if (const std::error_code error = PositionCursor(want)) {
                return error;
            }
            if (cursor.file == nullptr) {
                break;
            }
            want = cursor.nextId;
        }
        const auto segment =
            std::find_if(segments.begin(), segments.end(),
                         [this](const Segment& s) { return s.firstId == cursor.segmentFirstId; });
        if (cursor.nextId >= segment->endId) {
            want = segment->endId;
            CloseCursor();
            continue;
        }
        SpoolRecord record;
        if (!ReadRecordAtCursor(*segment, record)) {
            damagedBytes += segment->bytes - cursor.offset;
            want = segment->endId;
            CloseCursor();
            continue;
        }
        bytes += record.topic.size() + record.payload.size();
        want = record.id + 1;
        records.push_back(std::move(record));
    }
    return {};
}

bool Spool::WaitForRecordsAfter(std::uint64_t afterId, std::chrono::milliseconds timeout) {
    std::unique_lock guard(mutex);
    recordsArrived.wait_for(guard, timeout,
                            [&] { return nextId - 1 > afterId || wakeRequested || closed; });
    wakeRequested = false;
    return nextId - 1 > afterId;
}

void Spool::Wake() {
    {
        std::lock_guard guard(mutex);
        wakeRequested = true;
    }
    recordsArrived.notify_all();
}

void Spool::Acknowledge(std::uint64_t id) {
    bool persistDue = false;
    {
        std::lock_guard guard(mutex);
        if (closed || id <= acknowledgedId || id >= nextId) {
            return;
        }
        acknowledgedId = id;
        DeleteAcknowledgedSegments();
        const auto now = std::chrono::steady_clock::now();
        persistDue = now - lastPersist >= syncPeriod;
        if (persistDue) {
            lastPersist = now;
        }
    }
    if (persistDue) {
        PersistAcknowledged(id);
    }
}

// A small file written, synced and renamed over the old one, so a crash leaves the old or the
// new position, never a mixture. Failures only cost repeats after a restart.
void Spool::PersistAcknowledged(std::uint64_t id) {
    std::lock_guard guard(persistMutex);
    if (id <= persistedAcknowledgedId) {
        return;
    }
    const fs::path path = PathOf(folder);
    std::error_code error;
    std::FILE* file = spool_platform::OpenFile(path / kAcknowledgedNewFile, "wb", error);
    if (file == nullptr) {
        return;
    }
    const std::string text = std::to_string(id) + "\n";
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                         std::fflush(file) == 0 && !spool_platform::SyncFile(file);
    std::fclose(file);
    if (written &&
        !spool_platform::RenameOver(path / kAcknowledgedNewFile, path / kAcknowledgedFile)) {
        persistedAcknowledgedId = id;
    }
}

SpoolCounters Spool::Counters() const {
    std::lock_guard guard(mutex);
    SpoolCounters counters;
    counters.lastId = nextId - 1;
    counters.acknowledgedId = acknowledgedId;
    counters.pendingRecords = nextId - 1 - std::max(acknowledgedId, FirstHeldId() - 1);
    counters.droppedRecords = droppedRecords;
    counters.droppedUndelivered = droppedUndelivered;
    counters.damagedBytes = damagedBytes;
    return counters;
}

std::error_code Spool::Close() {
    std::uint64_t finalAcknowledged = 0;
    {
        std::lock_guard guard(mutex);
        if (closed) {
            return firstFailure;
        }
        closed = true;
        if (writerSync != nullptr) {
            NoteFailure(writerSync->Finish());
            writerSync.reset();
        }
        if (writer != nullptr) {
            std::fclose(writer);
            writer = nullptr;
        }
        CloseCursor();
        finalAcknowledged = acknowledgedId;
    }
    recordsArrived.notify_all();
    PersistAcknowledged(finalAcknowledged);
    std::lock_guard guard(mutex);
    lock.reset();
    return firstFailure;
}
