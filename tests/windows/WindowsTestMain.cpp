#include <gtest/gtest.h>

#include <optional>

#include "tests/windows/ChildRoles.h"

int main(int argc, char** argv) {
    if (const std::optional<int> exitCode = RunChildRole(argc, argv)) {
        return *exitCode;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
