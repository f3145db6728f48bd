// Test programs that call the camera SDK or the motion controller directly,
// before any switch-on, bind the simulators first as the programs bind them:
// from the shared libraries beside the test program.
#include <gtest/gtest.h>

#include <string>

#include "platform/camera_sdk/binding.h"
#include "platform/motion6k/binding.h"

namespace {

class BoundDevices : public ::testing::Environment {
public:
    void SetUp() override {
        std::string refusal;
        ASSERT_TRUE(camera_sdk::BindLibrary(&refusal)) << refusal;
        ASSERT_TRUE(motion6k::BindLibrary(&refusal)) << refusal;
    }
};

const auto* const g_boundDevices = ::testing::AddGlobalTestEnvironment(new BoundDevices);

}  // namespace
