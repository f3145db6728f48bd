// What the display costs, against baselines measured in the same run:
//   byte_display_1024   ByteDisplay of a 1024 x 1024 plane (scaling, histogram,
//                       bitmap into the picture, histogram plot), against one
//                       plain pass that reads the plane and writes one byte per
//                       pixel, the two alternating (target: at most 1.5 x);
//   live_512_qt         DisplayCCDImage of 512 x 512 frames from a worker
//                       thread, each shown by the Qt front-end before the next
//                       (target: at least 60 frames/s);
//   live_512_qt_flood   the worker does not wait; after it stops, how long the
//                       window needs to catch up (a growing event queue shows
//                       as a drain time that grows with the run).
//
//   bench_display [--busy] [seconds per measurement, default 2]
//
// Windows are drawn offscreen unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QEventLoop>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "bench/conditions.h"
#include "display/display.h"
#include "display/display_panel.h"
#include "platform/ui/frontend.h"
#include "platform/ui/qt/qt_frontend.h"
#include "platform/ui/qt/qt_widgets.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/instrument_state.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

int NoOp(int, int, int, void*, int, int) { return 0; }
void NoOpMenu(int, int, void*, int) {}

// The main panel of PELU.uir; other subsystems' callbacks are bound to no-ops.
int LoadMainPanel() {
    std::ifstream in(PELU_UIR_PATH);
    std::stringstream text;
    text << in.rdbuf();
    const std::string resource = text.str();
    std::regex name("\"callback\": \"(\\w+)\"");
    for (std::sregex_iterator it(resource.begin(), resource.end(), name), end; it != end; ++it) {
        ui::RegisterCallback((*it)[1], NoOp);
        ui::RegisterMenuCallback((*it)[1], NoOpMenu);
    }
    pelu::RegisterDisplayCallbacks();
    return ui::LoadPanel(0, PELU_UIR_PATH, pelu::MAIN_RESOURCE);
}

std::vector<uint16_t> Plane(int width, int height, int seed) {
    std::vector<uint16_t> plane(size_t(width) * height);
    uint32_t r = 12345u + seed;
    for (size_t i = 0; i < plane.size(); ++i) {
        r = r * 1664525u + 1013904223u;
        plane[i] = uint16_t(1000 + (i % size_t(width)) + (r >> 22));  // ramp plus noise
    }
    return plane;
}

// The baseline: read every sample, write one byte.
double PlainPass(const std::vector<uint16_t>& plane, std::vector<unsigned char>& out) {
    const auto start = Clock::now();
    const uint16_t* in = plane.data();
    unsigned char* o = out.data();
    for (size_t i = 0; i < plane.size(); ++i) o[i] = static_cast<unsigned char>(in[i] >> 8);
    asm volatile("" : : "r"(o) : "memory");
    return Seconds(start);
}

double ByteDisplayOnce(const std::vector<uint16_t>& plane, int size) {
    const auto start = Clock::now();
    pelu::ByteDisplay(size, size, plane.data(), 1100, 1900);
    return Seconds(start);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void WithGuiRunning(const std::function<void()>& work) {
    QEventLoop loop;
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}

// Frames of the simulated camera: a few different ones, cycled.
struct Camera {
    static constexpr int kSize = 512;
    std::vector<std::vector<uint16_t>> frames;
    Camera() {
        for (int i = 0; i < 4; ++i) frames.push_back(Plane(kSize, kSize, i));
        pelu::state.nCameraHandle1 = 101;
        pelu::state.nhDim1 = kSize;
        pelu::state.nvDim1 = kSize;
        pelu::state.g_nFrameNumber1 = 1;
        pelu::state.g_pRawData.Allocate(size_t(kSize) * kSize);
    }
    // A new frame in the camera buffer and its display, as the live view does.
    void Take(long n) {
        const std::vector<uint16_t>& f = frames[size_t(n) % frames.size()];
        std::copy(f.begin(), f.end(), pelu::state.g_pRawData.get());
        pelu::DisplayCCDImage(kSize, kSize, 1, 101);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const bool busy = bench::TakeBusyFlag(&argc, argv);
    bench::BusyLoad load(busy ? 2 : 0);
    bench::PrintConditions("bench_display", busy);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    if (!(seconds > 0)) {
        std::fprintf(stderr, "usage: %s [seconds per measurement]\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ui::InitRuntime();
    ui::SetAutomaticTimers(false);
    const int panel = LoadMainPanel();
    if (panel < 0) {
        std::fprintf(stderr, "cannot load the main panel: %s\n", ui::LastLoadError().c_str());
        return 1;
    }
    pelu::state.mainPanel = panel;
    ui::ConvertTreeToRadioGroup(panel, pelu::MAIN_VIEW);
    pelu::FillGreyRamp(pelu::state.colortable);

    // Scaling and histogram, headless; the two alternate, so that both see
    // the same state of the machine, and the medians count.
    const int size = 1024;
    const std::vector<uint16_t> plane = Plane(size, size, 0);
    std::vector<double> plainTimes, byteDisplayTimes;
    {
        std::vector<unsigned char> out(plane.size());
        const auto start = Clock::now();
        while (Seconds(start) < 2 * seconds || plainTimes.size() < 31) {
            plainTimes.push_back(PlainPass(plane, out));
            byteDisplayTimes.push_back(ByteDisplayOnce(plane, size));
        }
    }
    const double plain = 1.0 / Median(plainTimes);
    const double byteDisplay = 1.0 / Median(byteDisplayTimes);

    double inStep = 0, pushed = 0, painted = 0, drainMs = 0;
    int refreshes = 0;
    {
        ui::QtFrontEnd frontEnd;
        ui::SetFrontEnd(&frontEnd);
        ui::DisplayPanel(panel);
        ui::GetPanelAttribute(panel, ui::ATTR_WIDTH, &pelu::state.panelwidth);
        ui::GetPanelAttribute(panel, ui::ATTR_HEIGHT, &pelu::state.panelheight);
        while (!frontEnd.PanelWidget(panel) || !frontEnd.PanelWidget(panel)->isVisible())
            QCoreApplication::processEvents();
        const auto* picture = dynamic_cast<ui::qt::PictureWidget*>(
            frontEnd.ControlWidget(panel, pelu::MAIN_PICTURE));
        if (!picture) {
            std::fprintf(stderr, "the picture control has no picture widget\n");
            ui::SetFrontEnd(nullptr);
            return 1;
        }
        Camera camera;

        long count = 0;
        double elapsed = 0;
        WithGuiRunning([&] {
            const auto start = Clock::now();
            while (Seconds(start) < seconds) {
                const int before = picture->PicturesPainted();
                camera.Take(count++);
                while (picture->PicturesPainted() == before) std::this_thread::yield();
            }
            elapsed = Seconds(start);
        });
        inStep = count / elapsed;

        count = 0;
        const int paintedBefore = picture->PicturesPainted();
        const int refreshesBefore = frontEnd.RefreshCount();
        WithGuiRunning([&] {
            const auto start = Clock::now();
            while (Seconds(start) < seconds) camera.Take(count++);
            elapsed = Seconds(start);
        });
        // What is still queued once the worker has stopped.
        const auto drainStart = Clock::now();
        int lastPainted = -1;
        while (lastPainted != picture->PicturesPainted()) {
            lastPainted = picture->PicturesPainted();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        drainMs = 1000 * Seconds(drainStart);
        pushed = count / elapsed;
        painted = (picture->PicturesPainted() - paintedBefore) / elapsed;
        refreshes = frontEnd.RefreshCount() - refreshesBefore;
        ui::SetFrontEnd(nullptr);
    }
    ui::ResetRuntime();

    std::printf("plain_pass_1024: %.1f planes/s (baseline, median of %zu)\n", plain,
                plainTimes.size());
    std::printf("byte_display_1024: %.1f planes/s (%.2f x baseline time)   target <= 1.5: %s\n",
                byteDisplay, plain / byteDisplay, bench::Verdict(plain / byteDisplay <= 1.5));
    std::printf("live_512_qt: %.1f frames/s shown, each before the next   target >= 60: %s\n",
                inStep, bench::Verdict(inStep >= 60));
    std::printf("live_512_qt_flood: %.1f frames/s displayed, %.1f painted, %d refreshes, "
                "%.1f ms to catch up after the stop\n",
                pushed, painted, refreshes, drainMs);
    std::fflush(stdout);
    return 0;
}
