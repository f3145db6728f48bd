// The camera subsystem against the simulator, with the main panel's status
// box and the test panel's cooling controls of a small resource file that
// uses the control ids of PELU.uir.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/camera.h"
#include "platform/camera_sdk/simulator.h"
#include "platform/ui/headless.h"
#include "platform/ui/frontend.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "tests/platform/ui/ui_fixture.h"

namespace pelu::testing {

inline std::string CameraPanels() {
    return R"({ "status_box": "MAIN.STATUS", "panels": [
      { "resource": 2, "name": "MAIN", "width": 600, "height": 400, "controls": [
        { "id": )" +
           std::to_string(MAIN_STATUS) + R"(, "name": "STATUS", "type": "textbox",
          "left": 10, "top": 10, "width": 500, "height": 300 },
        { "id": )" +
           std::to_string(MAIN_CCD1_TEMP) + R"(, "name": "CCD1_TEMP", "type": "string",
          "left": 10, "top": 320, "width": 100, "height": 26 },
        { "id": )" +
           std::to_string(MAIN_CCD2_TEMP) + R"(, "name": "CCD2_TEMP", "type": "string",
          "left": 120, "top": 320, "width": 100, "height": 26 } ] },
      { "resource": 4, "name": "TEST", "width": 600, "height": 400, "controls": [
        { "id": )" +
           std::to_string(TEST_COOLSTATUS) + R"(, "name": "COOLSTATUS", "type": "textbox",
          "left": 10, "top": 10, "width": 200, "height": 200 },
        { "id": )" +
           std::to_string(TEST_TEMP_GRAPH) + R"(, "name": "TEMP_GRAPH", "type": "graph",
          "left": 10, "top": 220, "width": 500, "height": 150 } ] } ] })";
}

class CameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::ResetRuntime();
        ui::InitRuntime();
        ui::SetFrontEnd(&frontEnd);
        ResetInstrumentState();
        ResetCameraGlobals();
        camsim::Reset(camsim::Config{});
        const std::string file = ui::testing::WriteResource(CameraPanels());
        state.mainPanel = ui::LoadPanel(0, file, 2);
        state.testpanel = ui::LoadPanel(0, file, 4);
        ASSERT_GT(state.mainPanel, 0) << ui::LastLoadError();
        ASSERT_GT(state.testpanel, 0) << ui::LastLoadError();
    }
    void TearDown() override {
        state.PmacAccessible = 0;
        ui::SetFrontEnd(nullptr);
        ui::ResetRuntime();
        ResetInstrumentState();
        ResetCameraGlobals();
        camsim::Reset(camsim::Config{});
    }
    void Simulate(const camsim::Config& config) { camsim::Reset(config); }

    std::string Status() { return GetText(state.mainPanel, MAIN_STATUS); }
    std::string Cooling() { return GetText(state.testpanel, TEST_COOLSTATUS); }
    std::vector<std::string> PopupTexts() {
        std::vector<std::string> texts;
        for (const ui::PopupRecord& p : frontEnd.Popups()) texts.push_back(p.title + "/" + p.text);
        return texts;
    }
    static size_t Count(const std::string& text, const std::string& part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
        return n;
    }
    // Index of the first trace text equal to `text` from `from` on, or -1.
    static int Find(const std::vector<std::string>& trace, const std::string& text, int from = 0) {
        for (int i = from; i < int(trace.size()); ++i)
            if (trace[size_t(i)] == text) return i;
        return -1;
    }
    // Opens the cameras and configures them as the settings OK would.
    void Configure(int acquisitionMode, int bin, int frames, float exposure = 0.01f) {
        CamerasOn();
        if (state.nCameraHandle1 != 0) {
            SetCurrentCamera(state.nCameraHandle1);
            SetCameraParam(acquisitionMode, 4, 0, 0, bin, bin, exposure, 0, 0, frames,
                           state.nCameraHandle1);
        }
        if (state.nCameraHandle2 != 0) {
            SetCurrentCamera(state.nCameraHandle2);
            SetCameraParam(acquisitionMode, 4, 0, 0, bin, bin, exposure, 0, 0, frames,
                           state.nCameraHandle2);
        }
        SetCurrentCamera(state.nCameraHandle1);
    }

    ui::HeadlessFrontEnd frontEnd;
};

}  // namespace pelu::testing
