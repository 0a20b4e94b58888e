#include "measure/CsvLine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <streambuf>
#include <string>

namespace {

MeasurementSample SampleOf(const std::string& line) {
    MeasurementSample sample;
    sample.Parse(line);
    return sample;
}

struct LineCase {
    std::string received;
    std::string bytes;
};

TEST(CsvLine, IsTheThreeTextsThenCarriageReturnLineFeed) {
    const LineCase cases[] = {
        {"1.0 2.0 3.0", "1.0,2.0,3.0\r\n"},
        {"1.0 2.0", "1.0,2.0,\r\n"},
        {"1.0  2.0 3.0", "1.0,,2.0\r\n"},
        {"", ",,\r\n"},
        {"1.234E+00 5.678E-01 9.012E+02 extra", "1.234E+00,5.678E-01,9.012E+02\r\n"},
    };
    for (const LineCase& c : cases) {
        EXPECT_EQ(CsvLine(SampleOf(c.received)), c.bytes) << '"' << c.received << '"';
    }
}

// A stream buffer that takes bytes only while accepting is set.
class SwitchableBuffer : public std::streambuf {
public:
    bool accepting = true;
    std::string bytes;

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        if (!accepting) {
            return 0;
        }
        bytes.append(text, static_cast<std::size_t>(count));
        return count;
    }
    int_type overflow(int_type c) override {
        if (!accepting || traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::eof();
        }
        bytes.push_back(traits_type::to_char_type(c));
        return c;
    }
};

TEST(CsvLineWriter, ReportsAFailedLineAndStillTriesTheNext) {
    SwitchableBuffer buffer;
    std::ostream stream(&buffer);
    CsvLineWriter writer(stream);
    buffer.accepting = false;
    EXPECT_FALSE(writer.WriteLine(SampleOf("1 2 3")));
    buffer.accepting = true;
    EXPECT_TRUE(writer.WriteLine(SampleOf("4 5 6")));
    EXPECT_EQ(buffer.bytes, "4,5,6\r\n");
    EXPECT_TRUE(writer.AnyLineFailed());
}

TEST(CsvLineWriter, NeverThrowsEvenWhenTheStreamWould) {
    SwitchableBuffer buffer;
    buffer.accepting = false;
    std::ostream stream(&buffer);
    stream.exceptions(std::ios::badbit | std::ios::failbit);
    CsvLineWriter writer(stream);
    bool written = true;
    EXPECT_NO_THROW(written = writer.WriteLine(SampleOf("1 2 3")));
    EXPECT_FALSE(written);
}

class CsvFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path = std::filesystem::temp_directory_path() /
               (std::string("qiro7_csv_") + info->name() + ".csv");
        std::filesystem::remove(path);
    }
    void TearDown() override { std::filesystem::remove(path); }

    std::string FileBytes() const {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    std::filesystem::path path;
};

TEST_F(CsvFileTest, FileHoldsExactlyTheLineBytesWithoutMark) {
    {
        std::ofstream file(path, std::ios::binary | std::ios::app);
        CsvLineWriter writer(file);
        ASSERT_TRUE(writer.WriteLine(SampleOf("1.0 2.0 3.0")));
        ASSERT_TRUE(writer.WriteLine(SampleOf("1.0 2.0")));
    }
    EXPECT_EQ(FileBytes(), "1.0,2.0,3.0\r\n1.0,2.0,\r\n");
}

TEST_F(CsvFileTest, EachLineIsOnDiskBeforeTheFileIsClosed) {
    std::ofstream file(path, std::ios::binary | std::ios::app);
    CsvLineWriter writer(file);
    ASSERT_TRUE(writer.WriteLine(SampleOf("1 2 3")));
    EXPECT_EQ(FileBytes(), "1,2,3\r\n");
    ASSERT_TRUE(writer.WriteLine(SampleOf("4 5 6")));
    EXPECT_EQ(FileBytes(), "1,2,3\r\n4,5,6\r\n");
}

}  // namespace
