// Main of every test program: tests run the instrument a hundred times faster
// than real time unless a test sets its own scale.
#include <gtest/gtest.h>

#include "platform/os/os.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    os::SetTimeScale(0.01);
    return RUN_ALL_TESTS();
}
