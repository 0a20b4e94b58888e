#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/WindowTitle.h"
#include "res/VersionInfo.h"
#include "tests/windows/ChildProcess.h"

namespace {

std::vector<BYTE> OwnVersionBlock() {
    const std::string executable = OwnExecutable();
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeA(executable.c_str(), &ignored));
    if (block.empty() || GetFileVersionInfoA(executable.c_str(), 0,
                                             static_cast<DWORD>(block.size()), block.data()) == 0) {
        block.clear();
    }
    return block;
}

TEST(VersionResourceTest, TheTitleIsBuiltFromTheExecutablesOwnResource) {
    EXPECT_EQ(VersionWindowTitle(), "QIRO-7 ver 1.1.0");
}

TEST(VersionResourceTest, EveryStringFieldReadsBack) {
    struct Field {
        const char* name;
        std::string expected;  // empty: any text but the empty one
    };
    const Field fields[] = {
        {"CompanyName", ""},
        {"FileDescription", "QIRO-7"},
        {"FileVersion", QIRO7_PROJECT_VERSION},
        {"InternalName", "QIRO-7.exe"},
        {"LegalCopyright", ""},
        {"OriginalFilename", "QIRO-7.exe"},
        {"ProductName", "QIRO-7"},
        {"ProductVersion", QIRO7_PROJECT_VERSION},
    };
    for (const Field& field : fields) {
        SCOPED_TRACE(field.name);
        const std::optional<std::string> value = QueryVersionString(field.name);
        ASSERT_TRUE(value.has_value());
        if (field.expected.empty()) {
            EXPECT_FALSE(value->empty());
        } else {
            EXPECT_EQ(*value, field.expected);
        }
    }
}

TEST(VersionResourceTest, NamesThatAreNoStringFieldGiveNothing) {
    const char* names[] = {"NoSuchField",
                           "",
                           "FileVersion\\Extra",
                           "..\\..\\VarFileInfo",
                           "\\VarFileInfo\\Translation",
                           "fileversion "};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(QueryVersionString(name), std::nullopt);
    }
}

TEST(VersionResourceTest, FixedVersionAndTranslationMatchTheStrings) {
    std::vector<BYTE> block = OwnVersionBlock();
    ASSERT_FALSE(block.empty());

    void* value = nullptr;
    UINT length = 0;
    ASSERT_NE(VerQueryValueA(block.data(), "\\", &value, &length), 0);
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    const DWORD high = MAKELONG(QIRO7_PROJECT_VERSION_MINOR, QIRO7_PROJECT_VERSION_MAJOR);
    const DWORD low = MAKELONG(0, QIRO7_PROJECT_VERSION_PATCH);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    ASSERT_NE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length), 0);
    ASSERT_EQ(length, sizeof(std::uint32_t)) << "exactly one translation entry";
    const auto* entry = static_cast<const WORD*>(value);
    EXPECT_EQ(entry[0], 0x0409);  // U.S. English
    EXPECT_EQ(entry[1], 1252);
}

TEST(VersionResourceTest, TheManifestAsksForTheInvokersRightsWithoutUiAccess) {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(resource, nullptr);
    HGLOBAL loaded = LoadResource(nullptr, resource);
    ASSERT_NE(loaded, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                               SizeofResource(nullptr, resource));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
}

TEST(VersionResourceTest, AnExecutableWithoutTheResourceGetsNothing) {
    ChildProcess bare(OwnFolder() + QIRO7_BARE_PROBE_NAME, "");
    ASSERT_TRUE(bare.Started());
    EXPECT_EQ(bare.WaitForExit(), std::optional<DWORD>(0));
}

}  // namespace
