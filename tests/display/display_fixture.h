// The main panel of PELU.uir alone, on a dispatch thread with the headless
// front-end, for the display tests. Callbacks of other subsystems named in the
// resource are bound to a no-op so the panel loads without them.
#pragma once

#include <fitsio.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "control/callbacks.h"
#include "display/display.h"
#include "display/display_panel.h"
#include "platform/os/os.h"
#include "platform/ui/frontend.h"
#include "platform/ui/headless.h"
#include "platform/ui/runtime_internal.h"
#include "platform/ui/script.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"
#include "tests/platform/ui/ui_fixture.h"

namespace pelu::testing {

inline int NoOp(int, int, int, void*, int, int) {
    return 0;
}
inline void NoOpMenu(int, int, void*, int) {}

constexpr int kHandle1 = 101;
constexpr int kHandle2 = 202;

class DisplayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::ResetRuntime();
        ui::InitRuntime();
        ui::SetFrontEnd(&frontEnd);
        ui::SetAutomaticTimers(false);
        ResetInstrumentState();
        ResetDisplayGlobals();
        std::ifstream in(os::ExecutableDirectory() + "/PELU.uir");
        std::stringstream text;
        text << in.rdbuf();
        const std::string resource = text.str();
        std::regex name("\"callback\": \"(\\w+)\"");
        for (std::sregex_iterator it(resource.begin(), resource.end(), name), end; it != end;
             ++it) {
            ui::RegisterCallback((*it)[1], NoOp);
            ui::RegisterMenuCallback((*it)[1], NoOpMenu);
        }
        RegisterDisplayCallbacks();
        ui::RegisterCallback("cmdOpen", cmdOpen);

        state.mainPanel = ui::LoadPanel(0, "PELU.uir", MAIN_RESOURCE);
        ASSERT_GT(state.mainPanel, 0) << ui::LastLoadError();
        ui::ConvertTreeToRadioGroup(state.mainPanel, MAIN_VIEW);
        ui::DisplayPanel(state.mainPanel);
        ui::GetPanelAttribute(state.mainPanel, ui::ATTR_WIDTH, &state.panelwidth);
        ui::GetPanelAttribute(state.mainPanel, ui::ATTR_HEIGHT, &state.panelheight);
        FillGreyRamp(state.colortable);
        state.nCameraHandle1 = kHandle1;
        state.nCameraHandle2 = kHandle2;
        loop = std::thread([] { ui::RunUserInterface(); });
        ASSERT_TRUE(ui::testing::Eventually([] { return ui::detail::DispatcherRunning(); }));
        folder = std::filesystem::temp_directory_path() /
                 ("pelu-display-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        if (loop.joinable()) {
            ui::QuitUserInterface(0);
            loop.join();
        }
        ui::SetFrontEnd(nullptr);
        ui::ResetRuntime();
        ResetInstrumentState();
        ResetDisplayGlobals();
        std::filesystem::remove_all(folder);
    }

    void Script(const std::string& text) {
        ui::ScriptRunner runner(&frontEnd, "test");
        ui::ScriptResult r = runner.RunText(text);
        ASSERT_TRUE(r.ok) << "line " << r.line << " (" << r.command << "): " << r.message;
    }
    // Runs `fn` on the dispatch thread, as a callback would, and waits for it.
    void OnDispatch(std::function<void()> fn) {
        std::promise<void> done;
        ui::PostDeferredCall([&] {
            fn();
            done.set_value();
        });
        done.get_future().wait();
    }

    // A camera series: sample (x, y, f) = value(x, y, f).
    void MakeSeries(int camera, int width, int height, int frames,
                    const std::function<uint16_t(int, int, int)>& value) {
        (camera == 1 ? state.nhDim1 : state.nhDim2) = width;
        (camera == 1 ? state.nvDim1 : state.nvDim2) = height;
        state.g_nFrameNumber1 = frames;
        Buffer<uint16_t>& raw = camera == 1 ? state.g_pRawData : state.g_pRawData2;
        raw.Allocate(size_t(width) * height * frames);
        for (int f = 0; f < frames; ++f)
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    raw.get()[x + size_t(width) * (y + size_t(height) * f)] = value(x, y, f);
    }

    ui::PictureImage Picture() {
        ui::PictureImage image;
        ui::GetCtrlPicture(state.mainPanel, MAIN_PICTURE, &image);
        return image;
    }
    std::vector<ui::Plot> Plots() {
        std::vector<ui::Plot> plots;
        ui::GetGraphPlots(state.mainPanel, MAIN_GRAPH, &plots);
        return plots;
    }
    int Int(int control) { return GetInt(state.mainPanel, control); }
    std::string Text(int control) { return GetText(state.mainPanel, control); }
    bool Dimmed(int control) {
        int dimmed = 0;
        ui::GetCtrlAttribute(state.mainPanel, control, ui::ATTR_DIMMED, &dimmed);
        return dimmed != 0;
    }
    int Marked() {
        int view = -1;
        ui::GetMarkedOption(state.mainPanel, MAIN_VIEW, &view);
        return view;
    }
    double Range(int control, int attribute) {
        double v = 0;
        ui::GetCtrlAttribute(state.mainPanel, control, attribute, &v);
        return v;
    }
    std::string Status() { return Text(MAIN_STATUS); }
    // A message popup with this title whose text contains `text`.
    bool Popped(const std::string& title, const std::string& text) {
        for (const ui::PopupRecord& p : frontEnd.Popups())
            if (p.kind == ui::PopupRecord::Kind::Message && p.title == title &&
                p.text.find(text) != std::string::npos)
                return true;
        return false;
    }

    // A FITS image of 16-bit samples (BITPIX 16, no BZERO) or, with
    // floats, a 32-bit float cube like the flat product.
    std::string WriteFits(const std::string& name, int width, int height, int frames,
                          const std::function<int(int, int, int)>& value, bool floats = false) {
        const std::string path = (folder / name).string();
        fitsfile* f = nullptr;
        int status = 0;
        long axes[3] = {width, height, frames};
        fits_create_file(&f, path.c_str(), &status);
        fits_create_img(f, floats ? FLOAT_IMG : SHORT_IMG, frames > 0 ? 3 : 2, axes, &status);
        float exposure = 0.25f;
        fits_update_key(f, TFLOAT, "EXPTIME", &exposure, "", &status);
        const int planes = frames > 0 ? frames : 1;
        const size_t n = size_t(width) * height * planes;
        if (floats) {
            std::vector<float> data(n);
            for (size_t i = 0; i < n; ++i) data[i] = float(i);
            fits_write_img(f, TFLOAT, 1, LONGLONG(n), data.data(), &status);
        } else {
            std::vector<short> data(n);
            for (int k = 0; k < planes; ++k)
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x)
                        data[x + size_t(width) * (y + size_t(height) * k)] =
                            static_cast<short>(static_cast<uint16_t>(value(x, y, k)));
            fits_write_img(f, TSHORT, 1, LONGLONG(n), data.data(), &status);
        }
        fits_close_file(f, &status);
        EXPECT_EQ(status, 0);
        return path;
    }

    ui::HeadlessFrontEnd frontEnd;
    std::thread loop;
    std::filesystem::path folder;
};

}  // namespace pelu::testing
