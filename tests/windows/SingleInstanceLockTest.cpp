#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "app/SingleInstanceLock.h"
#include "tests/windows/ChildProcess.h"
#include "tests/windows/ChildRoles.h"

namespace {

// A name of this test process's own, so parallel test runs never meet; the program's own name
// is the same kind of plain text.
std::string TestLockName() {
    return std::string(kSingleInstanceMutexName) + "-test-" + std::to_string(GetCurrentProcessId());
}

// Starts a second copy that tries the lock and reports what it saw.
std::optional<DWORD> SecondCopyExitCode(const std::string& name) {
    ChildProcess child(OwnExecutable(), std::string(kTryLockRole) + " " + name);
    if (!child.Started()) {
        return std::nullopt;
    }
    return child.WaitForExit();
}

TEST(SingleInstanceLockTest, ASecondProcessIsRefusedUntilTheFirstReleases) {
    const std::string name = TestLockName();
    {
        SingleInstanceLock first(name);
        ASSERT_TRUE(first.Acquire());
        EXPECT_TRUE(first.Acquire()) << "asking again while holding it is no refusal";
        EXPECT_EQ(SecondCopyExitCode(name), kLockRefusedExitCode);
    }
    EXPECT_EQ(SecondCopyExitCode(name), kLockAcquiredExitCode);
}

TEST(SingleInstanceLockTest, ReleasingLetsTheSameProcessTakeItAgain) {
    const std::string name = TestLockName();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        SingleInstanceLock lock(name);
        EXPECT_TRUE(lock.Acquire());
    }
}

struct EndCase {
    const char* name;
    bool abrupt;
};

TEST(SingleInstanceLockTest, ANewCopySucceedsOnceTheFirstProcessHasEnded) {
    const EndCase cases[] = {{"first copy quits", false}, {"first copy crashes", true}};
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = TestLockName();
        const std::string suffix = c.abrupt ? "-abrupt" : "-quit";
        NamedEvent ready("ready" + suffix);
        NamedEvent release("release" + suffix);
        ChildProcess first(OwnExecutable(), std::string(kHoldLockRole) + " " + name + " " +
                                                ready.Name() + " " + release.Name());
        ASSERT_TRUE(first.Started());
        ASSERT_TRUE(first.Signals(ready)) << "the first copy did not get the lock";

        EXPECT_EQ(SecondCopyExitCode(name), kLockRefusedExitCode);
        {
            SingleInstanceLock refused(name);
            EXPECT_FALSE(refused.Acquire());
        }
        EXPECT_EQ(SecondCopyExitCode(name), kLockRefusedExitCode)
            << "a refused copy must leave the first copy's lock alone";

        if (c.abrupt) {
            first.Kill();
        } else {
            release.Set();
            EXPECT_EQ(first.WaitForExit(), kLockAcquiredExitCode);
        }
        EXPECT_EQ(SecondCopyExitCode(name), kLockAcquiredExitCode);
        SingleInstanceLock later(name);
        EXPECT_TRUE(later.Acquire());
    }
}

}  // namespace
