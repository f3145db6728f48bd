// What the Qt front-end costs, against the headless core measured in the
// same run:
//   qt_picture_1024   a 1024 x 1024 8-bit picture set from a worker thread,
//                     refreshed and painted by the front-end before the next one
//                     (baseline: the same picture through the core alone,
//                     NewBitmap + SetCtrlBitmap + TakeModelChanges);
//   qt_picture_1024_freerun  the worker does not wait: how many pictures the
//                     window shows while a live view floods it;
//   qt_set_numeric    SetCtrlVal of a numeric from a worker while the window
//                     refreshes (baseline: an uncontended mutex-protected int).
//
//   bench_qt_frontend [seconds per measurement, default 2]
//
// Windows are drawn offscreen unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QEventLoop>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ui/frontend.h"
#include "platform/ui/qt/qt_frontend.h"
#include "platform/ui/qt/qt_widgets.h"
#include "platform/ui/ui.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSize = 1024;
constexpr int kPicture = 1, kNumeric = 2;

const char* kResource = R"json({
  "panels": [
    { "resource": 1, "name": "LIVE", "title": "Live view", "width": 1044, "height": 1080,
      "top": 0, "left": 0,
      "controls": [
        { "id": 1, "name": "PICTURE", "type": "picture", "left": 10, "top": 10,
          "width": 1024, "height": 1024 },
        { "id": 2, "name": "COUNT", "type": "numeric", "label": "Count", "data_type": "int",
          "left": 10, "top": 1050, "width": 100, "height": 24 }
      ] }
  ]
})json";

struct Frame {
    std::vector<int> palette = std::vector<int>(256);
    std::vector<unsigned char> bits = std::vector<unsigned char>(kSize * kSize);
    Frame() {
        for (int i = 0; i < 256; ++i) palette[i] = i * 0x010101;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) bits[y * kSize + x] = static_cast<unsigned char>(x ^ y);
    }
    // One picture into the control, as a camera loop does.
    void Push(int panel, int n) {
        bits[0] = static_cast<unsigned char>(n);
        int bitmap = 0;
        ui::NewBitmap(kSize, 8, kSize, kSize, palette.data(), bits.data(), &bitmap);
        ui::SetCtrlBitmap(panel, kPicture, 0, bitmap);
        ui::DiscardBitmap(bitmap);
    }
};

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Runs `work` on a worker thread while this (GUI) thread runs the Qt event
// loop, until `work` returns.
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

double HeadlessPictures(int panel, Frame& frame, double seconds) {
    uint64_t version = ui::TakeModelChanges(0).version;
    long count = 0;
    const auto start = Clock::now();
    while (Seconds(start) < seconds) {
        frame.Push(panel, static_cast<int>(count));
        version = ui::TakeModelChanges(version).version;
        ++count;
    }
    return count / Seconds(start);
}

double QtPicturesInStep(int panel, Frame& frame, const ui::qt::PictureWidget& picture,
                        double seconds) {
    long count = 0;
    double elapsed = 0;
    WithGuiRunning([&] {
        const auto start = Clock::now();
        while (Seconds(start) < seconds) {
            const int painted = picture.PicturesPainted();
            frame.Push(panel, static_cast<int>(count));
            while (picture.PicturesPainted() == painted) std::this_thread::yield();
            ++count;
        }
        elapsed = Seconds(start);
    });
    return count / elapsed;
}

void QtPicturesFreeRunning(int panel, Frame& frame, const ui::qt::PictureWidget& picture,
                           double seconds, double* pushed, double* painted) {
    long count = 0;
    double elapsed = 0;
    const int paintedBefore = picture.PicturesPainted();
    WithGuiRunning([&] {
        const auto start = Clock::now();
        while (Seconds(start) < seconds) frame.Push(panel, static_cast<int>(count++));
        elapsed = Seconds(start);
    });
    *pushed = count / elapsed;
    *painted = (picture.PicturesPainted() - paintedBefore) / elapsed;
}

double QtSetNumeric(int panel, double seconds) {
    long count = 0;
    double elapsed = 0;
    WithGuiRunning([&] {
        const auto start = Clock::now();
        while (Seconds(start) < seconds) {
            for (int i = 0; i < 1000; ++i)
                ui::SetCtrlVal(panel, kNumeric, static_cast<int>(count + i));
            count += 1000;
        }
        elapsed = Seconds(start);
    });
    return count / elapsed;
}

double MutexStores(double seconds) {
    std::mutex mutex;
    volatile int value = 0;
    long count = 0;
    const auto start = Clock::now();
    while (Seconds(start) < seconds) {
        for (int i = 0; i < 1000; ++i) {
            const std::lock_guard lock(mutex);
            value = static_cast<int>(count + i);
        }
        count += 1000;
    }
    (void)value;
    return count / Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    if (!(seconds > 0)) {
        std::fprintf(stderr, "usage: %s [seconds per measurement]\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const auto resource = std::filesystem::temp_directory_path() /
                          ("bench_qt_frontend_" + std::to_string(::getpid()) + ".uir");
    std::ofstream(resource) << kResource;
    ui::InitRuntime();
    ui::SetAutomaticTimers(false);
    const int panel = ui::LoadPanel(0, resource.string(), 1);
    std::filesystem::remove(resource);
    if (panel < 0) {
        std::fprintf(stderr, "cannot load the panel: %s\n", ui::LastLoadError().c_str());
        return 1;
    }
    Frame frame;

    const double headless = HeadlessPictures(panel, frame, seconds);
    const double mutexStores = MutexStores(seconds);

    double qtStep = 0, pushed = 0, painted = 0, setNumeric = 0;
    {
        ui::QtFrontEnd frontEnd;
        ui::SetFrontEnd(&frontEnd);
        ui::DisplayPanel(panel);
        while (!frontEnd.PanelWidget(panel) || !frontEnd.PanelWidget(panel)->isVisible())
            QCoreApplication::processEvents();
        const auto* picture =
            dynamic_cast<ui::qt::PictureWidget*>(frontEnd.ControlWidget(panel, kPicture));
        if (!picture) {
            std::fprintf(stderr, "the picture control has no picture widget\n");
            ui::SetFrontEnd(nullptr);
            return 1;
        }
        qtStep = QtPicturesInStep(panel, frame, *picture, seconds);
        QtPicturesFreeRunning(panel, frame, *picture, seconds, &pushed, &painted);
        setNumeric = QtSetNumeric(panel, seconds);
        ui::SetFrontEnd(nullptr);
    }
    ui::ResetRuntime();

    std::printf("headless_picture_1024: %.1f pictures/s (baseline)\n", headless);
    std::printf("qt_picture_1024: %.1f pictures/s (%.2f x headless baseline)\n", qtStep,
                qtStep / headless);
    std::printf(
        "qt_picture_1024_freerun: %.1f pictures/s set, %.1f shown (%.2f x headless baseline)\n",
        pushed, painted, pushed / headless);
    std::printf("mutex_int_store: %.3g stores/s (baseline)\n", mutexStores);
    std::printf("qt_set_numeric: %.3g SetCtrlVal/s (%.3f x mutex baseline)\n", setNumeric,
                setNumeric / mutexStores);
    std::fflush(stdout);
    return 0;
}
