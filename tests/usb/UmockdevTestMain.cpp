// main() of the suites that run against emulated USB devices: under umockdev's preload.
#include <gtest/gtest.h>

#include "tests/usb/EmulatedInstrument.h"

int main(int argc, char** argv) {
    EnsureUmockdevPreload(argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
