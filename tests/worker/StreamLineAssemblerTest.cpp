#include "measure/StreamLineAssembler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Take = StreamLineAssembler::Take;

std::vector<std::string> TakeAll(StreamLineAssembler& stream) {
    std::vector<std::string> lines;
    StreamLineAssembler::Line line;
    while (stream.TakeLine(line) == Take::Line) {
        lines.push_back(line.text);
    }
    return lines;
}

struct SplitCase {
    const char* name;
    std::vector<std::string> packets;
    std::vector<std::string> lines;
    std::string carry;
};

class LineSplitting : public testing::TestWithParam<SplitCase> {};

TEST_P(LineSplitting, TakingAfterEveryPacket) {
    const SplitCase& c = GetParam();
    StreamLineAssembler stream;
    std::vector<std::string> lines;
    for (const std::string& packet : c.packets) {
        stream.Append(packet);
        for (const std::string& line : TakeAll(stream)) {
            lines.push_back(line);
        }
    }
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(stream.CarryText(), c.carry);
}

TEST_P(LineSplitting, TakingAfterAllPackets) {
    const SplitCase& c = GetParam();
    StreamLineAssembler stream;
    for (const std::string& packet : c.packets) {
        stream.Append(packet);
    }
    EXPECT_EQ(TakeAll(stream), c.lines);
    EXPECT_EQ(stream.CarryText(), c.carry);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, LineSplitting,
    testing::Values(SplitCase{"TwoLinesInOnePacket",
                              {"1.0E+01 2.0E+00 3.0E+01\r4.0E+01 5.0E+00 6.0E+01\r"},
                              {"1.0E+01 2.0E+00 3.0E+01", "4.0E+01 5.0E+00 6.0E+01"},
                              ""},
                    SplitCase{"LineSplitOverTwoPackets",
                              {"1.0E+01 2.0", "E+00 3.0E+01\r"},
                              {"1.0E+01 2.0E+00 3.0E+01"},
                              ""},
                    SplitCase{"CrStartsTheNextPacket", {"abc", "\rdef\r"}, {"abc", "def"}, ""},
                    SplitCase{"PartialLineIsCarried", {"a\rb c"}, {"a"}, "b c"},
                    SplitCase{"EmptyLines", {"\r\r"}, {"", ""}, ""},
                    SplitCase{"LineFeedBelongsToTheNextLine", {"a\r\nb\r"}, {"a", "\nb"}, ""},
                    SplitCase{"OneCharacterPackets", {"E", "N", "D", "\r"}, {"END"}, ""},
                    SplitCase{"NothingYet", {}, {}, ""}),
    [](const testing::TestParamInfo<SplitCase>& param) { return param.param.name; });

struct LimitCase {
    const char* name;
    std::size_t lineBytes;
    bool withCr;
    Take expected;
};

class LineLimit : public testing::TestWithParam<LimitCase> {};

TEST_P(LineLimit, BoundsALineAtTheLimit) {
    const LimitCase& c = GetParam();
    StreamLineAssembler stream;
    stream.Append(std::string(c.lineBytes, 'x') + (c.withCr ? "\r" : ""));
    StreamLineAssembler::Line line;
    EXPECT_EQ(stream.TakeLine(line), c.expected);
    if (c.expected == Take::Line) {
        EXPECT_EQ(line.text.size(), c.lineBytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, LineLimit,
    testing::Values(LimitCase{"FullLineWithoutCrWaits", 4096, false, Take::NeedMore},
                    LimitCase{"OneByteOverWithoutCrFails", 4097, false, Take::TooLong},
                    LimitCase{"FullLineWithCrIsTaken", 4096, true, Take::Line},
                    LimitCase{"OneByteOverWithCrFails", 4097, true, Take::TooLong}),
    [](const testing::TestParamInfo<LimitCase>& param) { return param.param.name; });

TEST(LineLimit, CountsOnlyTheLineNotTheTextBeforeIt) {
    StreamLineAssembler stream;
    std::string text;
    for (int i = 0; i < 200; ++i) {
        text += "1.234E+01 5.678E+00 9.012E+01\r";
    }
    stream.Append(text + std::string(4096, 'x'));
    EXPECT_EQ(TakeAll(stream).size(), 200u);
    StreamLineAssembler::Line line;
    EXPECT_EQ(stream.TakeLine(line), Take::NeedMore);
    stream.Append("x");
    EXPECT_EQ(stream.TakeLine(line), Take::TooLong);
}

TEST(LineLimit, GrowsPastTheLimitAcrossPackets) {
    StreamLineAssembler stream;
    StreamLineAssembler::Line line;
    for (int packet = 0; packet < 64; ++packet) {
        stream.Append(std::string(64, 'x'));
        ASSERT_EQ(stream.TakeLine(line), Take::NeedMore) << "packet " << packet;
    }
    stream.Append("x");
    EXPECT_EQ(stream.TakeLine(line), Take::TooLong);
}

struct MarkedLine {
    std::string text;
    bool fromStopReply;
    bool operator==(const MarkedLine&) const = default;
};

std::vector<MarkedLine> TakeAllMarked(StreamLineAssembler& stream) {
    std::vector<MarkedLine> lines;
    StreamLineAssembler::Line line;
    while (stream.TakeLine(line) == Take::Line) {
        lines.push_back({line.text, line.fromStopReply});
    }
    return lines;
}

void PrintTo(const MarkedLine& line, std::ostream* os) {
    *os << '"' << line.text << '"' << (line.fromStopReply ? " (stop reply)" : "");
}

TEST(StopReplyText, FollowsEarlierStreamTextAndPrecedesLaterPackets) {
    StreamLineAssembler stream;
    stream.Append("1 2 3\r4 5");
    stream.AppendStopReply(" 6\rOK\rNO\r");
    stream.Append("NO\rEND\r");
    const std::vector<MarkedLine> expected = {{"1 2 3", false}, {"4 5 6", true}, {"OK", true},
                                              {"NO", true},     {"NO", false},   {"END", false}};
    EXPECT_EQ(TakeAllMarked(stream), expected);
}

TEST(StopReplyText, StaysMarkedWhenLinesWereTakenBeforeIt) {
    StreamLineAssembler stream;
    stream.Append("a\rb\rc");
    StreamLineAssembler::Line line;
    ASSERT_EQ(stream.TakeLine(line), Take::Line);
    stream.AppendStopReply("\rOK\rEND\r");
    const std::vector<MarkedLine> expected = {
        {"b", false}, {"c", true}, {"OK", true}, {"END", true}};
    EXPECT_EQ(TakeAllMarked(stream), expected);
}

TEST(StopReplyText, ALongBurstComesOutWholeAndInOrder) {
    StreamLineAssembler stream;
    std::string burst;
    for (int i = 0; i < 20000; ++i) {
        burst += std::to_string(i) + "\r";
    }
    stream.AppendStopReply(burst);
    stream.Append("tail\r");
    const auto lines = TakeAll(stream);
    ASSERT_EQ(lines.size(), 20001u);
    EXPECT_EQ(lines[0], "0");
    EXPECT_EQ(lines[19999], "19999");
    EXPECT_EQ(lines[20000], "tail");
}

}  // namespace
