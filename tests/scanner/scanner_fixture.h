// The program running headless with the simulated scanner controller loaded
// through the real binding, in a fresh working directory that holds the site
// templates. Tests talk to the simulator through its own entry point.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "control/callbacks.h"
#include "control/scanner_controls.h"
#include "data/directory.h"
#include "platform/os/os.h"
#include "platform/ui/runtime_internal.h"
#include "platform/ui/script.h"
#include "resources/pelu_uir.h"
#include "scanner/runtime.h"
#include "scanner/scanner.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"
#include "tests/platform/ui/ui_fixture.h"

namespace pelu::testing {

inline std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool Dimmed(int panel, int control) {
    int dimmed = -1;
    ui::GetCtrlAttribute(panel, control, ui::ATTR_DIMMED, &dimmed);
    return dimmed == 1;
}

class ScannerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::ResetRuntime();
        ui::InitRuntime();
        ui::SetFrontEnd(&frontEnd);
        ui::SetAutomaticTimers(false);
        ResetInstrumentState();
        ResetScanner();
        RegisterControlCallbacks();
        RegisterDataCallbacks();
        RegisterMotorCallbacks();
        RegisterScannerCallbacks();

        previousDirectory = std::filesystem::current_path();
        workDirectory = std::filesystem::temp_directory_path() /
                        ("pelu-scanner-" + std::to_string(::getpid()) + "-" +
                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(workDirectory);
        std::filesystem::create_directories(workDirectory);
        for (const char* name : {"pelu.head", "pelu.tail"})
            std::filesystem::copy_file(std::filesystem::path(PELU_SITE_DIR) / name,
                                       workDirectory / name);
        std::filesystem::current_path(workDirectory);

        library = dlopen(PmacLibraryPath().c_str(), RTLD_NOW | RTLD_NODELETE);
        ASSERT_NE(library, nullptr) << dlerror();
        simCommand = reinterpret_cast<SimCommandFn>(dlsym(library, "PmacSimulatorCommand"));
        ASSERT_NE(simCommand, nullptr);
        Sim("reset");

        state.Scanner_status = kDeviceNeverOpened;
        program = std::thread([this] { result = PELU_main(); });
        ASSERT_TRUE(ui::testing::Eventually([] { return ui::detail::DispatcherRunning(); }));
    }
    void TearDown() override {
        state.PmacAccessible = 0;
        if (program.joinable()) {
            ui::QuitUserInterface(0);
            program.join();
        }
        ResetScanner();
        ui::SetFrontEnd(nullptr);
        ui::ResetRuntime();
        ResetInstrumentState();
        if (library != nullptr) dlclose(library);
        std::filesystem::current_path(previousDirectory);
        std::filesystem::remove_all(workDirectory);
    }

    std::string Sim(const std::string& command) {
        std::vector<char> reply(1 << 22);
        EXPECT_EQ(simCommand(command.c_str(), reply.data(), static_cast<int>(reply.size())), 1)
            << command;
        return reply.data();
    }
    std::vector<std::string> Trace() {
        std::vector<std::string> lines;
        std::istringstream in(Sim("trace"));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    void Script(const std::string& text) {
        ui::ScriptRunner runner(&frontEnd, "test");
        ui::ScriptResult r = runner.RunText(text);
        ASSERT_TRUE(r.ok) << "line " << r.line << " (" << r.command << "): " << r.message;
    }
    std::string Status() { return GetText(state.mainPanel, MAIN_STATUS); }
    // The parts of the status box shown as warnings, one after the other.
    std::string Warnings() {
        std::vector<std::string> parts;
        ui::GetTextBoxWarnings(state.mainPanel, MAIN_STATUS, &parts);
        std::string all;
        for (const std::string& part : parts) all += part;
        return all;
    }
    bool TimerEnabled() {
        int enabled = -1;
        ui::GetCtrlAttribute(state.mainPanel, MAIN_AMP_TIMER, ui::ATTR_ENABLED, &enabled);
        return enabled == 1;
    }
    // Opens the scanner as the switch does, without the monitoring thread.
    void Open() {
        ASSERT_EQ(ScanOpen(), 1);
        ASSERT_TRUE(ScannerConnected());
    }
    // Runs the amp-on sequence tick by tick until the stage is homed.
    void Home() {
        for (int tick = 0; tick < 10000 && scanner.g_nAmpOnSeq != 30; ++tick) {
            ampon_timer();
            os::Sleep(5);
        }
        ASSERT_EQ(scanner.g_nAmpOnSeq, 30);
    }

    using SimCommandFn = int (*)(const char*, char*, int);
    ui::HeadlessFrontEnd frontEnd;
    std::thread program;
    std::atomic<int> result{-99};
    void* library = nullptr;
    SimCommandFn simCommand = nullptr;
    std::filesystem::path previousDirectory, workDirectory;
};

// A stand-in for the camera's monitoring loop: the scanner reads, then the
// frame request served by recording which frame it was for.
class FrameRecorder {
public:
    // `serveMs`: instrument milliseconds each frame takes (a slow camera).
    explicit FrameRecorder(double serveMs = 0) {
        thread_ = std::thread([this, serveMs] {
            while (state.PmacAccessible != 0) {
                ReadPosition();
                Monitor();
                if (state.take == 1) {
                    frames_.push_back(state.Scanpos_CCDframe);
                    if (serveMs > 0) os::Sleep(serveMs);
                    state.take = 0;
                }
            }
        });
    }
    ~FrameRecorder() { Stop(); }
    std::vector<int> Stop() {
        state.PmacAccessible = 0;
        if (thread_.joinable()) thread_.join();
        return frames_;
    }

private:
    std::vector<int> frames_;
    std::thread thread_;
};

}  // namespace pelu::testing
