// What the command line makes of what people type.
#include "cli/Usage.h"

#include <gtest/gtest.h>

namespace {

TEST(Usage, ReadsWholeNumbersAndSaysWhatWasWrong) {
    const struct {
        const char* text;
        std::optional<int> value;
        const char* reason;
    } cases[] = {
        {"0", 0, ""},
        {"999", 999, ""},
        {"007", 7, ""},
        {"1000", std::nullopt, "not in range 0 to 999"},
        {"99999999999999999999", std::nullopt, "not in range 0 to 999"},
        {"0.5", std::nullopt, "not a whole number"},
        {"-1", std::nullopt, "not a whole number"},
        {"+1", std::nullopt, "not a whole number"},
        {" 1", std::nullopt, "not a whole number"},
        {"abc", std::nullopt, "not a whole number"},
        {"", std::nullopt, "not a whole number"},
    };
    for (const auto& c : cases) {
        std::string reason;
        EXPECT_EQ(ParseWholeNumber(c.text, 0, 999, reason), c.value) << c.text;
        EXPECT_EQ(reason, c.reason) << c.text;
    }
}

TEST(Usage, ReadsLengthsOfTime) {
    const struct {
        const char* text;
        std::optional<double> seconds;
    } cases[] = {
        {"90", 90},          {"90s", 90},           {"15m", 900},          {"8h", 28800},
        {"1.5h", 5400},      {"0.3s", 0.3},         {"0", std::nullopt},   {"5x", std::nullopt},
        {"h", std::nullopt}, {"-5s", std::nullopt}, {"1e3", std::nullopt}, {".5h", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        std::string reason;
        const std::optional<double> seconds = ParseDuration(c.text, reason);
        EXPECT_EQ(seconds.has_value(), c.seconds.has_value()) << c.text;
        if (seconds && c.seconds) {
            EXPECT_DOUBLE_EQ(*seconds, *c.seconds) << c.text;
        }
        EXPECT_EQ(reason.empty(), seconds.has_value()) << c.text;
    }
}

TEST(Usage, OffersTheNearestNameForASlipOnly) {
    const std::vector<std::string> commands = {"list",      "info",  "get", "set",
                                               "calibrate", "error", "log", "measure"};
    const struct {
        const char* typed;
        std::optional<std::string> nearest;
    } cases[] = {
        {"mesure", "measure"},      // a letter missing
        {"measuer", "measure"},     // two swapped
        {"calibrat", "calibrate"},  // the end missing
        {"erorr", "error"},           {"lst", "list"},
        {"cal", "calibrate"},  // a beginning only one name has
        {"frobnicate", std::nullopt}, {"x", std::nullopt},
        {"help", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NearestName(c.typed, commands), c.nearest) << c.typed;
    }
    EXPECT_EQ(Suggestion("rnage", {"range", "frequency"}), "; did you mean range?");
    EXPECT_EQ(Suggestion("zzz", {"range", "frequency"}), "");
}

}  // namespace
