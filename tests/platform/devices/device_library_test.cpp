// Choosing and binding device libraries: the override variables, devices.ini,
// and the refusals of missing, unloadable and incomplete libraries.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/devices/device_library.h"
#include "platform/os/os.h"

namespace {

namespace fs = std::filesystem;
using devices::Device;

using OpenFn = int (*)(uint32_t);
using TextFn = int (*)(uint32_t, char*, int);

// Every test runs in a fresh working directory of its own, with no override
// variable set.
class DeviceLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        folder_ = fs::temp_directory_path() /
                  ("pelu_devices_" + std::to_string(getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        fs::current_path(folder_);
        for (Device d : {Device::Camera, Device::Scanner, Device::Motors})
            unsetenv(devices::Describe(d).variable);
    }
    void TearDown() override {
        for (Device d : {Device::Camera, Device::Scanner, Device::Motors})
            unsetenv(devices::Describe(d).variable);
        fs::current_path(previous_);
        fs::remove_all(folder_);
    }
    void WriteSiteFile(const std::string& text) {
        std::ofstream(folder_ / devices::kSiteFileName) << text;
    }

    fs::path previous_, folder_;
};

TEST_F(DeviceLibraryTest, WithoutSiteFileEachDeviceHasItsSimulatorBesideTheProgram) {
    const std::string here = os::ExecutableDirectory();
    EXPECT_EQ(devices::ChooseLibrary(Device::Camera).path, here + "/libpelu_camsim.so");
    EXPECT_EQ(devices::ChooseLibrary(Device::Scanner).path, here + "/libpelu_pmac.so");
    EXPECT_EQ(devices::ChooseLibrary(Device::Motors).path, here + "/libpelu_6k.so");
    EXPECT_EQ(devices::ChooseLibrary(Device::Motors).source, devices::Source::Simulator);
}

TEST_F(DeviceLibraryTest, SiteFileNamesEachDeviceAndRelativePathsAreInTheWorkingDirectory) {
    WriteSiteFile("# site libraries\n"
                  "; second comment style\n"
                  "\n"
                  "  Camera = /opt/site/libcam.so  \n"
                  "scanner=lib/libscan.so\n");
    const auto camera = devices::ChooseLibrary(Device::Camera);
    EXPECT_EQ(camera.path, "/opt/site/libcam.so");
    EXPECT_EQ(camera.source, devices::Source::SiteFile);
    EXPECT_TRUE(camera.problem.empty());
    EXPECT_EQ(devices::ChooseLibrary(Device::Scanner).path, folder_.string() + "/lib/libscan.so");
    // No motors line: the simulator.
    EXPECT_EQ(devices::ChooseLibrary(Device::Motors).source, devices::Source::Simulator);
}

TEST_F(DeviceLibraryTest, VariableOverridesTheSiteFile) {
    WriteSiteFile("scanner = /opt/site/libscan.so\n");
    setenv("PELU_PMAC_LIBRARY", "/tmp/other.so", 1);
    const auto choice = devices::ChooseLibrary(Device::Scanner);
    EXPECT_EQ(choice.path, "/tmp/other.so");
    EXPECT_EQ(choice.source, devices::Source::Variable);
    setenv("PELU_CAMERA_LIBRARY", "/tmp/cam.so", 1);
    setenv("PELU_6K_LIBRARY", "/tmp/6k.so", 1);
    EXPECT_EQ(devices::ChooseLibrary(Device::Camera).path, "/tmp/cam.so");
    EXPECT_EQ(devices::ChooseLibrary(Device::Motors).path, "/tmp/6k.so");
}

TEST_F(DeviceLibraryTest, MalformedSiteFileLinesAreRefusedNotGuessed) {
    WriteSiteFile("camera\n");
    auto choice = devices::ChooseLibrary(Device::Scanner);
    EXPECT_NE(choice.problem.find("devices.ini line 1 is not \"device = path\""),
              std::string::npos);
    // Wherever the fault is, it counts for every device.
    WriteSiteFile("scanner = /opt/site/libscan.so\nmotors =   \n");
    choice = devices::ChooseLibrary(Device::Scanner);
    EXPECT_NE(choice.problem.find("devices.ini line 2 names no file for the motors"),
              std::string::npos)
        << choice.problem;
    // A misspelt device would otherwise leave it on the simulator unnoticed.
    WriteSiteFile("cameras = /opt/site/libcam.so\n");
    EXPECT_NE(devices::ChooseLibrary(Device::Camera).problem.find("names no known device"),
              std::string::npos);
    WriteSiteFile("motors = /a.so\nmotors = /b.so\n");
    EXPECT_NE(devices::ChooseLibrary(Device::Motors).problem.find("names the motors a second time"),
              std::string::npos);
    WriteSiteFile("motors =   \n");
    OpenFn open = nullptr;
    devices::LoadedLibrary library;
    std::string message;
    EXPECT_FALSE(devices::LoadLibrary(Device::Motors, {devices::Bind("OpenPmacDevice", &open)},
                                      &library, &message));
    EXPECT_NE(message.find("the motors stay off"), std::string::npos);
    EXPECT_EQ(library.handle, nullptr);
}

TEST_F(DeviceLibraryTest, ConfiguredLibraryIsBoundWholeWithItsVersion) {
    WriteSiteFile(std::string("scanner = ") + PMAC_SIMULATOR + "\n");
    OpenFn open = nullptr;
    TextFn version = nullptr;
    devices::LoadedLibrary library;
    std::string message;
    ASSERT_TRUE(devices::LoadLibrary(Device::Scanner,
                                     {devices::Bind("OpenPmacDevice", &open),
                                      devices::Bind("PmacGetRomVersionA", &version)},
                                     &library, &message))
        << message;
    ASSERT_NE(open, nullptr);
    ASSERT_NE(version, nullptr);
    EXPECT_NE(library.handle, nullptr);
    EXPECT_FALSE(library.version.empty());
    // The bound functions are the library's: the controller opens and reports.
    EXPECT_NE(open(0), 0);
    char text[16] = {};
    EXPECT_NE(version(0, text, sizeof text), 0);
    EXPECT_STRNE(text, "");
    const std::string line = devices::LibraryLine(Device::Scanner, library);
    EXPECT_EQ(line, std::string("Scanner library: ") + PMAC_SIMULATOR +
                        " (site library from devices.ini, version " + library.version + ")");
    devices::ReleaseLibrary(&library);
    EXPECT_EQ(library.handle, nullptr);
}

TEST_F(DeviceLibraryTest, LibraryLackingAFunctionIsRefusedAndNothingIsStored) {
    setenv("PELU_PMAC_LIBRARY", INCOMPLETE_LIBRARY, 1);
    OpenFn open = nullptr;
    TextFn version = nullptr;
    devices::LoadedLibrary library;
    std::string message;
    EXPECT_FALSE(devices::LoadLibrary(Device::Scanner,
                                      {devices::Bind("OpenPmacDevice", &open),
                                       devices::Bind("PmacGetRomVersionA", &version)},
                                      &library, &message));
    // OpenPmacDevice exists in the library but was not stored either.
    EXPECT_EQ(open, nullptr);
    EXPECT_EQ(version, nullptr);
    EXPECT_EQ(library.handle, nullptr);
    EXPECT_NE(message.find(INCOMPLETE_LIBRARY), std::string::npos) << message;
    EXPECT_NE(message.find("lacks the function PmacGetRomVersionA"), std::string::npos);
    EXPECT_NE(message.find("docs/devices.md"), std::string::npos);
    EXPECT_NE(message.find("the scanner stays off"), std::string::npos);
}

TEST_F(DeviceLibraryTest, UnloadableFileIsRefusedWithTheLoadersReason) {
    std::ofstream(folder_ / "libnotalibrary.so") << "this is text, not a shared object\n";
    WriteSiteFile("camera = libnotalibrary.so\n");
    OpenFn open = nullptr;
    devices::LoadedLibrary library;
    std::string message;
    EXPECT_FALSE(devices::LoadLibrary(Device::Camera, {devices::Bind("OpenPmacDevice", &open)},
                                      &library, &message));
    EXPECT_EQ(open, nullptr);
    EXPECT_NE(message.find("Camera library " + (folder_ / "libnotalibrary.so").string() +
                           " cannot be loaded"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("Correct the camera line of devices.ini"), std::string::npos);
    EXPECT_NE(message.find("the cameras stay off"), std::string::npos);
}

TEST_F(DeviceLibraryTest, SiteFileNamingAMissingFileIsRefusedNotReplacedByTheSimulator) {
    WriteSiteFile("scanner = /nonexistent/libsite_pmac.so\n");
    OpenFn open = nullptr;
    devices::LoadedLibrary library;
    std::string message;
    EXPECT_FALSE(devices::LoadLibrary(Device::Scanner, {devices::Bind("OpenPmacDevice", &open)},
                                      &library, &message));
    EXPECT_EQ(open, nullptr);
    EXPECT_NE(message.find("Scanner library /nonexistent/libsite_pmac.so does not exist "
                           "(named by the scanner line of devices.ini"),
              std::string::npos)
        << message;
    EXPECT_NE(devices::ChoiceLine(Device::Scanner).find("/nonexistent/libsite_pmac.so"),
              std::string::npos);
}

}  // namespace
