// The disk spool: order, ids across restarts, the acknowledged position, damage on disk, the
// bound and the folder lock.
#include "publish/Spool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "TestFolder.h"

namespace {

namespace fs = std::filesystem;

SpoolOptions Immediate(std::uint64_t maxBytes = 1u << 20, std::uint64_t segmentBytes = 1u << 16) {
    SpoolOptions options;
    options.maxBytes = maxBytes;
    options.segmentBytes = segmentBytes;
    options.syncPeriod = std::chrono::milliseconds(0);  // the position is written at once
    return options;
}

std::unique_ptr<Spool> OpenSpool(const std::string& folder, const SpoolOptions& options,
                                 SpoolOpenReport* report = nullptr) {
    SpoolOpenReport ignored;
    std::string reason;
    std::unique_ptr<Spool> spool =
        Spool::Open(folder, options, report != nullptr ? *report : ignored, reason);
    EXPECT_NE(spool, nullptr) << reason;
    return spool;
}

std::string PayloadOf(std::uint64_t n) {
    return "{\"n\":" + std::to_string(n) + ",\"pad\":\"" + std::string(n % 7, 'x') + "\"}";
}

void AppendNumbered(Spool& spool, std::uint64_t from, std::uint64_t to) {
    for (std::uint64_t n = from; n <= to; ++n) {
        const SpoolAppendResult result =
            spool.Append("plant/line" + std::to_string(n % 3), PayloadOf(n));
        ASSERT_FALSE(result.error) << result.error.message();
        ASSERT_EQ(result.id, n);
    }
}

std::vector<SpoolRecord> ReadAll(Spool& spool, std::uint64_t afterId) {
    std::vector<SpoolRecord> all;
    std::vector<SpoolRecord> batch;
    do {
        EXPECT_FALSE(spool.Read(afterId, 100, batch));
        for (SpoolRecord& record : batch) {
            afterId = record.id;
            all.push_back(std::move(record));
        }
    } while (!batch.empty());
    return all;
}

std::vector<fs::path> Segments(const std::string& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".seg") {
            found.push_back(entry.path());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

TEST(Spool, KeepsOrderAndIdsAcrossRestartsAndRemembersWhatWasDelivered) {
    TestFolder folder;
    {
        auto spool = OpenSpool(folder.Path(), Immediate());
        AppendNumbered(*spool, 1, 500);
        const std::vector<SpoolRecord> first = ReadAll(*spool, 0);
        ASSERT_EQ(first.size(), 500u);
        for (std::uint64_t n = 1; n <= 500; ++n) {
            EXPECT_EQ(first[n - 1].id, n);
            EXPECT_EQ(first[n - 1].topic, "plant/line" + std::to_string(n % 3));
            EXPECT_EQ(first[n - 1].payload, PayloadOf(n));
        }
        // Reading does not remove: a second reader from the same place gets the same.
        EXPECT_EQ(ReadAll(*spool, 299).front().id, 300u);
        spool->Acknowledge(300);
        spool->Acknowledge(200);  // going back is ignored
        EXPECT_EQ(spool->Counters().pendingRecords, 200u);
        EXPECT_FALSE(spool->Close());
    }
    SpoolOpenReport report;
    auto reopened = OpenSpool(folder.Path(), Immediate(), &report);
    EXPECT_EQ(report.pendingRecords, 200u);
    EXPECT_EQ(report.tornBytes, 0u);
    EXPECT_EQ(reopened->Counters().acknowledgedId, 300u);
    AppendNumbered(*reopened, 501, 510);
    const std::vector<SpoolRecord> rest = ReadAll(*reopened, reopened->Counters().acknowledgedId);
    ASSERT_EQ(rest.size(), 210u);
    EXPECT_EQ(rest.front().id, 301u);
    EXPECT_EQ(rest.back().payload, PayloadOf(510));

    // Fully delivered segments go; the one written to stays, so ids still run on.
    reopened->Acknowledge(510);
    EXPECT_EQ(Segments(folder.Path()).size(), 1u);
    reopened->Close();
    auto third = OpenSpool(folder.Path(), Immediate());
    EXPECT_EQ(third->Append("t", "p").id, 511u);
}

// Damage as a crash or power loss leaves it at the end of the last segment.
struct TornCase {
    const char* name;
    void (*damage)(const fs::path& segment, std::uint64_t lastRecordBytes);
    std::uint64_t tornBytesFromLastRecord;  // of the last record; added to extra bytes below
    std::uint64_t extraBytes;
    std::uint64_t soundRecords;
};

void AppendGarbage(const fs::path& segment, std::uint64_t) {
    std::ofstream(segment, std::ios::binary | std::ios::app) << "Q7R";
}
void CutLastRecord(const fs::path& segment, std::uint64_t lastRecordBytes) {
    fs::resize_file(segment, fs::file_size(segment) - lastRecordBytes / 2);
}
void FlipLastPayloadByte(const fs::path& segment, std::uint64_t) {
    std::fstream file(segment, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(-1, std::ios::end);
    file.put('#');
}
void HugeLengthInLastRecord(const fs::path& segment, std::uint64_t lastRecordBytes) {
    std::fstream file(segment, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(fs::file_size(segment) - lastRecordBytes + 14));
    const char huge[4] = {'\xff', '\xff', '\xff', '\x7f'};
    file.write(huge, 4);
}

TEST(Spool, CutsATornLastRecordOffAndGoesOnFromTheRecordBefore) {
    const std::uint64_t lastRecordBytes = Spool::RecordBytes(11, PayloadOf(20).size());
    const TornCase cases[] = {
        {"partial header after the last record", &AppendGarbage, 0, 3, 20},
        {"last record cut short", &CutLastRecord, lastRecordBytes - lastRecordBytes / 2, 0, 19},
        {"last record's checksum wrong", &FlipLastPayloadByte, lastRecordBytes, 0, 19},
        {"last record's length impossible", &HugeLengthInLastRecord, lastRecordBytes, 0, 19},
    };
    for (const TornCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder folder;
        {
            auto spool = OpenSpool(folder.Path(), Immediate());
            AppendNumbered(*spool, 1, 20);
        }
        c.damage(Segments(folder.Path()).back(), lastRecordBytes);
        SpoolOpenReport report;
        auto spool = OpenSpool(folder.Path(), Immediate(), &report);
        EXPECT_EQ(report.tornBytes, c.tornBytesFromLastRecord + c.extraBytes);
        EXPECT_EQ(report.pendingRecords, c.soundRecords);
        EXPECT_EQ(spool->Append("after", "crash").id, c.soundRecords + 1);
        const std::vector<SpoolRecord> records = ReadAll(*spool, 0);
        ASSERT_EQ(records.size(), c.soundRecords + 1);
        EXPECT_EQ(records[c.soundRecords - 1].payload, PayloadOf(c.soundRecords));
        EXPECT_EQ(records.back().payload, "crash");
    }
}

TEST(Spool, SkipsTheRestOfADamagedOlderSegmentAndCountsIt) {
    TestFolder folder;
    auto spool = OpenSpool(folder.Path(), Immediate(1u << 20, 4096));
    AppendNumbered(*spool, 1, 300);
    const std::vector<fs::path> segments = Segments(folder.Path());
    ASSERT_GE(segments.size(), 3u);
    {
        std::fstream file(segments[1], std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(100);
        file.put('\x5a');
    }
    const std::vector<SpoolRecord> records = ReadAll(*spool, 0);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().id, 300u);
    EXPECT_LT(records.size(), 300u);
    EXPECT_GT(spool->Counters().damagedBytes, 0u);
    for (std::size_t i = 1; i < records.size(); ++i) {
        EXPECT_LT(records[i - 1].id, records[i].id);
    }
}

TEST(Spool, TheBoundDropsWholeOldestSegmentsAndCountsTheUndelivered) {
    TestFolder folder;
    const std::uint64_t maxBytes = 16384;
    auto spool = OpenSpool(folder.Path(), Immediate(maxBytes, 4096));
    AppendNumbered(*spool, 1, 40);
    spool->Acknowledge(40);
    std::uint64_t undeliveredDropped = 0;
    for (std::uint64_t n = 41; n <= 600; ++n) {
        const SpoolAppendResult result = spool->Append("plant/line", PayloadOf(n));
        ASSERT_EQ(result.id, n);
        undeliveredDropped += result.droppedUndelivered;
    }
    std::uint64_t bytesOnDisk = 0;
    for (const fs::path& segment : Segments(folder.Path())) {
        bytesOnDisk += fs::file_size(segment);
    }
    EXPECT_LE(bytesOnDisk, maxBytes);
    const SpoolCounters counters = spool->Counters();
    const std::vector<SpoolRecord> held = ReadAll(*spool, 0);
    ASSERT_FALSE(held.empty());
    EXPECT_EQ(held.back().id, 600u);
    EXPECT_EQ(held.size(), counters.pendingRecords);
    // Every record is held, or delivered, or counted as dropped.
    EXPECT_EQ(counters.droppedRecords, held.front().id - 1);
    EXPECT_EQ(counters.droppedUndelivered, held.front().id - 1 - 40);
    EXPECT_EQ(undeliveredDropped, counters.droppedUndelivered);
}

TEST(Spool, ASecondOpenOfTheFolderIsRefusedUntilTheFirstCloses) {
    TestFolder folder;
    auto first = OpenSpool(folder.Path(), Immediate());
    SpoolOpenReport report;
    std::string reason;
    EXPECT_EQ(Spool::Open(folder.Path(), Immediate(), report, reason), nullptr);
    EXPECT_NE(reason.find("is in use by another process"), std::string::npos) << reason;
    EXPECT_NE(reason.find(folder.Path()), std::string::npos) << reason;
    first->Close();
    EXPECT_NE(Spool::Open(folder.Path(), Immediate(), report, reason), nullptr) << reason;
}

TEST(Spool, AWaitingReaderWakesForANewRecordOrWhenWoken) {
    TestFolder folder;
    auto spool = OpenSpool(folder.Path(), Immediate());
    std::thread producer([&] { spool->Append("t", "p"); });
    EXPECT_TRUE(spool->WaitForRecordsAfter(0, std::chrono::seconds(30)));
    producer.join();
    std::thread waker([&] { spool->Wake(); });
    EXPECT_FALSE(spool->WaitForRecordsAfter(1, std::chrono::seconds(30)));
    waker.join();
}

TEST(Spool, RefusesRecordsItCouldNeverHold) {
    TestFolder folder;
    auto spool = OpenSpool(folder.Path(), Immediate(16384, 4096));
    const SpoolAppendResult tooBig = spool->Append("t", std::string(9000, 'x'));
    EXPECT_EQ(tooBig.id, 0u);
    EXPECT_TRUE(tooBig.error);
    EXPECT_EQ(spool->Append("t", "fits").id, 1u);
}

}  // namespace
