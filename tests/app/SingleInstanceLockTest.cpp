#ifndef _WIN32

#include "app/SingleInstanceLock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;

class ScopedEnvironment {
public:
    explicit ScopedEnvironment(const char* variableName) : name(variableName) {
        if (const char* value = std::getenv(variableName)) {
            saved = value;
        }
    }
    ~ScopedEnvironment() {
        if (saved) {
            setenv(name.c_str(), saved->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name;
    std::optional<std::string> saved;
};

class SingleInstanceLockTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qiro7-lock-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(folder); }

    ScopedEnvironment runtimeDir{"XDG_RUNTIME_DIR"};
    ScopedEnvironment temporaryDir{"TMPDIR"};
    fs::path folder;
};

TEST_F(SingleInstanceLockTest, ASecondHolderIsRefusedUntilTheFirstReleases) {
    auto first = std::make_unique<SingleInstanceLock>("qiro7-test");
    ASSERT_TRUE(first->Acquire());
    EXPECT_TRUE(fs::exists(folder / "qiro7-test"));

    SingleInstanceLock second("qiro7-test");
    EXPECT_FALSE(second.Acquire());
    EXPECT_TRUE(first->Acquire()) << "the holder keeps its lock";

    first.reset();
    SingleInstanceLock third("qiro7-test");
    EXPECT_TRUE(third.Acquire());
}

TEST_F(SingleInstanceLockTest, DifferentNamesDoNotConflict) {
    SingleInstanceLock one("qiro7-one");
    SingleInstanceLock other("qiro7-other");
    EXPECT_TRUE(one.Acquire());
    EXPECT_TRUE(other.Acquire());
}

TEST_F(SingleInstanceLockTest, NamesThatLeaveTheFolderAreRefused) {
    for (const char* name : {"", ".", "..", "../escape", "sub/name"}) {
        SingleInstanceLock lock(name);
        EXPECT_FALSE(lock.Acquire()) << '"' << name << '"';
    }
}

TEST_F(SingleInstanceLockTest, WithoutARuntimeFolderAPrivateTemporaryFolderIsUsed) {
    setenv("XDG_RUNTIME_DIR", (folder / "missing").c_str(), 1);
    setenv("TMPDIR", folder.c_str(), 1);

    SingleInstanceLock first("qiro7-test");
    ASSERT_TRUE(first.Acquire());
    const fs::path privateFolder = folder / ("qiro7-" + std::to_string(getuid()));
    EXPECT_TRUE(fs::exists(privateFolder / "qiro7-test"));
    struct stat status {};
    ASSERT_EQ(stat(privateFolder.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);

    SingleInstanceLock second("qiro7-test");
    EXPECT_FALSE(second.Acquire());
}

TEST_F(SingleInstanceLockTest, AFallbackFolderOthersCanWriteOrRedirectIsNotTrusted) {
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", folder.c_str(), 1);
    const fs::path privateFolder = folder / ("qiro7-" + std::to_string(getuid()));

    fs::create_directory(privateFolder);
    fs::permissions(privateFolder, fs::perms::all);
    SingleInstanceLock open("qiro7-test");
    EXPECT_FALSE(open.Acquire());

    fs::remove(privateFolder);
    fs::create_directory(folder / "elsewhere");
    fs::permissions(folder / "elsewhere", fs::perms::owner_all);
    fs::create_directory_symlink(folder / "elsewhere", privateFolder);
    SingleInstanceLock redirected("qiro7-test");
    EXPECT_FALSE(redirected.Acquire());
}

}  // namespace

#endif
