// Test scaffolding for the run-time: a resource file written to a temporary
// folder, the headless front-end, and a dispatch thread running the event loop.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "platform/ui/frontend.h"
#include "platform/ui/headless.h"
#include "platform/ui/ui.h"

namespace ui::testing {

// Writes `json` to a fresh temporary file and returns its path.
inline std::string WriteResource(const std::string& json, const std::string& name = "test.uir") {
    static std::atomic<int> counter{0};
    auto dir = std::filesystem::temp_directory_path() /
               ("pelu-ui-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir);
    auto path = dir / name;
    std::ofstream(path) << json;
    return path.string();
}

// Polls `condition` for up to `timeout` of real time.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRuntime();
        InitRuntime();
        SetFrontEnd(&frontEnd);
    }
    void TearDown() override {
        StopLoop();
        SetFrontEnd(nullptr);
        ResetRuntime();
    }
    // Runs RunUserInterface on its own thread, as the programs do.
    void StartLoop() {
        loop = std::thread([this] { loopResult = RunUserInterface(); });
    }
    void StopLoop() {
        if (!loop.joinable()) return;
        QuitUserInterface(0);
        loop.join();
    }

    HeadlessFrontEnd frontEnd;
    std::thread loop;
    int loopResult = -99;
};

}  // namespace ui::testing
