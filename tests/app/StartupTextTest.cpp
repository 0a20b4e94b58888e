#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/WindowTitle.h"

namespace {

struct TitleCase {
    std::optional<std::string> description;
    std::optional<std::string> version;
    const char* title;
};

TEST(WindowTitle, JoinsDescriptionAndVersionAndCopesWithMissingFields) {
    const TitleCase cases[] = {
        {"QIRO-7", "1.1.0", "QIRO-7 ver 1.1.0"},     {"Bench meter", "2.0", "Bench meter ver 2.0"},
        {std::nullopt, "1.1.0", "QIRO-7 ver 1.1.0"}, {"", "1.1.0", "QIRO-7 ver 1.1.0"},
        {"QIRO-7", std::nullopt, "QIRO-7"},          {"QIRO-7", "", "QIRO-7"},
        {std::nullopt, std::nullopt, "QIRO-7"},
    };
    for (const TitleCase& c : cases) {
        EXPECT_EQ(BuildWindowTitle(c.description, c.version), c.title);
    }
}

TEST(WindowTitle, ComesFromThisProgramsVersionData) {
    EXPECT_EQ(VersionWindowTitle(), "QIRO-7 ver 1.1.0");
}

TEST(ExecutableBaseName, DropsFoldersAndTheLastExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/bin/qiro7", "qiro7"},
        {"qiro7-demo", "qiro7-demo"},
        {"C:\\Program Files\\QIRO-7\\QIRO-7.exe", "QIRO-7"},
        {"./build/app/qiro7.v2.exe", "qiro7.v2"},
        {"/opt/tools/.hidden", ".hidden"},
        {"/folder.d/tool", "tool"},
        {"", ""},
    };
    for (const auto& [path, name] : cases) {
        EXPECT_EQ(ExecutableBaseName(path), name) << path;
    }
}

}  // namespace
