// The Qt front-end against the real run-time core: what a person sees in the
// windows, and what reaches the program when the person acts. The windows are
// drawn offscreen; the dispatch loop runs on its own thread as in the programs.
#include "platform/ui/qt/qt_frontend.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QAreaSeries>
#include <QChartView>
#include <QColor>
#include <QDoubleSpinBox>
#include <QImage>
#include <QKeySequence>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTimer>
#include <QValueAxis>
#include <QWheelEvent>
#include <future>
#include <mutex>
#include <vector>

#include "platform/ui/qt/qt_widgets.h"
#include "tests/platform/ui/ui_fixture.h"

namespace ui::testing {
namespace {

using namespace std::chrono_literals;

// One QApplication on the main thread for the whole test program.
class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = new QApplication(argc_, argv_);
        app_->setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { delete app_; }

  private:
    int argc_ = 1;
    char name_[32] = "qt_frontend_tests";
    char* argv_[2] = {name_, nullptr};
    QApplication* app_ = nullptr;
};
[[maybe_unused]] ::testing::Environment* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

constexpr int kMain = 1;
constexpr int kPicture = 2, kGo = 3, kExposure = 4, kName = 5, kStatus = 6, kTable = 7, kTabs = 8,
              kGraph = 9, kAsk = 10;
constexpr int kPicLeft = 10, kPicTop = 20, kPicWidth = 64, kPicHeight = 48;

const char* kResource = R"json({
  "panels": [
    { "resource": 1, "name": "MAIN", "title": "Front-end test", "width": 420, "height": 330,
      "top": 40, "left": 40, "callback": "onPanel",
      "controls": [
        { "id": 2, "name": "PICTURE", "type": "picture", "left": 10, "top": 20, "width": 64,
          "height": 48, "callback": "onEvent" },
        { "id": 3, "name": "GO", "type": "command", "label": "Go", "left": 100, "top": 20,
          "width": 80, "height": 26, "callback": "onEvent" },
        { "id": 4, "name": "EXPOSURE", "type": "numeric", "label": "Exposure (s)",
          "data_type": "double", "value": 0.5, "min": 0, "max": 100, "precision": 3,
          "left": 100, "top": 76, "width": 100, "height": 24, "callback": "onEvent" },
        { "id": 5, "name": "NAME", "type": "string", "label": "Target", "value": "sun",
          "left": 100, "top": 126, "width": 120, "height": 24, "callback": "onEvent" },
        { "id": 6, "name": "STATUS", "type": "textbox", "label": "Status", "left": 240,
          "top": 20, "width": 170, "height": 130 },
        { "id": 7, "name": "TABLE", "type": "table", "label": "Lines", "rows": 2, "left": 10,
          "top": 180, "width": 220, "height": 100, "callback": "onEvent",
          "columns": [ {"label": "Wavelength", "type": "double", "width": 80},
                       {"label": "Order", "type": "int", "width": 50},
                       {"label": "Note", "type": "text", "width": 60} ] },
        { "id": 8, "name": "TABS", "type": "tab", "left": 240, "top": 170, "width": 170,
          "height": 80,
          "pages": [ { "name": "CAMERA_PAGE", "label": "Camera",
                       "controls": [ { "id": 2, "name": "GAIN", "type": "numeric",
                                       "data_type": "int", "value": 3, "left": 5, "top": 5,
                                       "width": 60, "height": 22 } ] },
                     { "name": "SCANNER_PAGE", "label": "Scanner" } ] },
        { "id": 9, "name": "GRAPH", "type": "graph", "left": 240, "top": 260, "width": 170,
          "height": 60, "x_label": "x", "y_label": "y" },
        { "id": 10, "name": "ASK", "type": "command", "label": "Ask", "left": 10, "top": 290,
          "width": 60, "height": 26, "callback": "onAsk" }
      ] }
    ,
    { "resource": 2, "name": "GROWING", "title": "Resizable", "width": 200, "height": 100,
      "resizable": true, "min_width": 150, "min_height": 80,
      "controls": [
        { "id": 2, "name": "VIEW", "type": "picture", "anchor": "left top right bottom",
          "left": 10, "top": 10, "width": 100, "height": 50 },
        { "id": 3, "name": "SIDE", "type": "command", "label": "Side", "anchor": "right",
          "left": 120, "top": 10, "width": 60, "height": 24, "shortcut": "Ctrl+R" },
        { "id": 4, "name": "BELOW", "type": "command", "label": "Below", "anchor": "bottom",
          "left": 10, "top": 70, "width": 60, "height": 24 } ] }
  ],
  "menubars": [
    { "resource": 1, "name": "MENUBAR",
      "menus": [
        { "id": 1, "name": "FILE", "label": "File",
          "items": [ { "id": 2, "name": "OPEN", "label": "&Open...", "callback": "onMenu",
                       "shortcut": "Ctrl+O" },
                     { "id": 3, "name": "LIVE", "label": "Live view", "callback": "onMenu" },
                     { "separator": true },
                     { "id": 4, "name": "EXIT", "label": "Exit", "callback": "onMenu" } ] } ] }
  ]
})json";

// ---- what reached the program --------------------------------------------------------

struct Received {
    int panel = 0, control = 0, event = 0, data1 = 0, data2 = 0;
    std::thread::id thread;
};

std::mutex receivedMutex;
std::vector<Received> received;
std::atomic<int> confirmAnswer{-1};

void Record(int panel, int control, int event, int data1, int data2) {
    std::lock_guard lock(receivedMutex);
    received.push_back({panel, control, event, data1, data2, std::this_thread::get_id()});
}

int OnEvent(int panel, int control, int event, void*, int data1, int data2) {
    Record(panel, control, event, data1, data2);
    return 0;
}

int OnAsk(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) confirmAnswer = ConfirmPopup("Shutter", "Open the shutter?");
    return 0;
}

// A menu choice is recorded as (panel, item, kMenuChosen, menu bar).
constexpr int kMenuChosen = 1000;
void OnMenu(int menuBar, int item, void*, int panel) {
    Record(panel, item, kMenuChosen, menuBar, 0);
}

std::vector<Received> ReceivedFor(int control, int event) {
    std::lock_guard lock(receivedMutex);
    std::vector<Received> found;
    for (const Received& r : received)
        if (r.control == control && r.event == event) found.push_back(r);
    return found;
}

// Processes Qt events on this (GUI) thread until `condition` holds.
bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

void PumpFor(std::chrono::milliseconds duration) {
    PumpUntil([] { return false; }, duration);
}

class QtFrontEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRuntime();
        InitRuntime();
        SetAutomaticTimers(false);
        RegisterCallback("onPanel", OnEvent);
        RegisterCallback("onEvent", OnEvent);
        RegisterCallback("onAsk", OnAsk);
        RegisterMenuCallback("onMenu", OnMenu);
        {
            std::lock_guard lock(receivedMutex);
            received.clear();
        }
        confirmAnswer = -1;
        resource = WriteResource(kResource);
        frontEnd = std::make_unique<QtFrontEnd>();
        SetFrontEnd(frontEnd.get());
        loop = std::thread([] { RunUserInterface(); });
        std::atomic<bool> running{false};
        PostDeferredCall([&] {
            dispatchThread = std::this_thread::get_id();
            running = true;
        });
        ASSERT_TRUE(Eventually([&] { return running.load(); }));
    }

    void TearDown() override {
        QuitUserInterface(0);
        loop.join();
        SetFrontEnd(nullptr);
        frontEnd.reset();
        ResetRuntime();
    }

    // Loads MAIN, shows it and waits for its window.
    int ShowMain() {
        const int panel = LoadPanel(0, resource, kMain);
        EXPECT_GT(panel, 0) << LastLoadError();
        DisplayPanel(panel);
        EXPECT_TRUE(PumpUntil([&] {
            QWidget* window = frontEnd->PanelWidget(panel);
            return window && window->isVisible();
        }));
        return panel;
    }

    template <class W>
    W* Widget(int panel, int control) {
        W* widget = qobject_cast<W*>(frontEnd->ControlWidget(panel, control));
        EXPECT_NE(widget, nullptr) << "control " << control;
        return widget;
    }

    // Takes a screenshot from another thread, as a script does.
    QImage ScreenshotFromScript(int panel) {
        const std::string path = resource + "." + std::to_string(++shots) + ".png";
        auto shot = std::async(std::launch::async, [&] {
            std::string error;
            const bool ok = frontEnd->Screenshot(panel, path, &error);
            EXPECT_TRUE(ok) << error;
            return ok;
        });
        EXPECT_TRUE(PumpUntil([&] { return shot.wait_for(0s) == std::future_status::ready; }));
        shot.get();
        return QImage(QString::fromStdString(path));
    }

    std::string resource;
    HeadlessFrontEnd responder;  // answers popups when a test gives it to the front-end
    std::unique_ptr<QtFrontEnd> frontEnd;
    std::thread loop;
    std::thread::id dispatchThread;
    int shots = 0;
};

// ---- pictures ---------------------------------------------------------------------------

int PatternAt(int x, int y) {
    return (x * 3 + y * 7) & 0xFF;
}

// Puts a w x h bitmap of PatternAt with `palette` into the picture control.
void ShowPattern(int panel, int w, int h, const std::vector<int>& palette) {
    const int bytesPerRow = w + 4;  // padded rows, as camera frames come
    std::vector<unsigned char> bits(static_cast<size_t>(bytesPerRow) * h, 0xEE);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            bits[y * bytesPerRow + x] = static_cast<unsigned char>(PatternAt(x, y));
    int bitmap = 0;
    ASSERT_EQ(NewBitmap(bytesPerRow, 8, w, h, palette.data(), bits.data(), &bitmap), 0);
    ASSERT_EQ(SetCtrlBitmap(panel, kPicture, 0, bitmap), 0);
    DiscardBitmap(bitmap);  // the picture keeps its own copy
}

TEST_F(QtFrontEndTest, ScreenshotShowsThePicturePixelForPixelAtOneToOne) {
    const int panel = ShowMain();
    const int w = 40, h = 30;  // smaller than the control: the rest stays black
    std::vector<int> grey(256), red(256);
    for (int i = 0; i < 256; ++i) {
        grey[i] = i * 0x010101;
        red[i] = i << 16;
    }
    SetCtrlAttribute(panel, kPicture, ATTR_PICTURE_ZOOM, 1.0);
    ShowPattern(panel, w, h, grey);
    QImage shot = ScreenshotFromScript(panel);
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.width(), 420);
    EXPECT_EQ(shot.height(), 330);
    // At 1:1 a picture smaller than the view sits in its middle.
    const int left = kPicLeft + (kPicWidth - w) / 2, top = kPicTop + (kPicHeight - h) / 2;
    int wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v = PatternAt(x, y);
            if (shot.pixel(left + x, top + y) != qRgb(v, v, v) && ++wrong <= 3)
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex
                              << shot.pixel(left + x, top + y) << ", expected grey " << std::dec
                              << v;
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(shot.pixel(left + w, top), qRgb(0, 0, 0));
    EXPECT_EQ(shot.pixel(kPicLeft, kPicTop), qRgb(0, 0, 0));
    EXPECT_EQ(shot.pixel(kPicLeft + kPicWidth - 1, kPicTop + kPicHeight - 1), qRgb(0, 0, 0));
    // Outside the control the panel's own ground shows.
    EXPECT_NE(shot.pixel(kPicLeft - 2, kPicTop + 5), qRgb(0, 0, 0));
    EXPECT_NE(shot.pixel(kPicLeft + 5, kPicTop + kPicHeight + 2), qRgb(0, 0, 0));

    // The palette is red, green, blue in that order (0x00RRGGBB).
    ShowPattern(panel, w, h, red);
    shot = ScreenshotFromScript(panel);
    EXPECT_EQ(shot.pixel(left + 5, top + 3), qRgb(PatternAt(5, 3), 0, 0));
    EXPECT_EQ(shot.pixel(left + w - 1, top + h - 1), qRgb(PatternAt(w - 1, h - 1), 0, 0));

    // The inverted palette shows byte v in the colour of 255 - v.
    ShowPattern(panel, w, h, grey);
    SetCtrlAttribute(panel, kPicture, ATTR_PICTURE_PALETTE, VAL_PALETTE_INVERTED);
    shot = ScreenshotFromScript(panel);
    const int v = 255 - PatternAt(7, 2);
    EXPECT_EQ(shot.pixel(left + 7, top + 2), qRgb(v, v, v));

    std::string error;
    EXPECT_FALSE(frontEnd->Screenshot(panel + 100, resource + ".none.png", &error));
    EXPECT_NE(error.find("no window"), std::string::npos) << error;
}

TEST_F(QtFrontEndTest, APictureFitsTheViewKeepingItsAspect) {
    const int panel = ShowMain();
    std::vector<int> grey(256);
    for (int i = 0; i < 256; ++i) grey[i] = i * 0x010101;
    // 16 x 8 into 64 x 48: four screen pixels per image pixel, centred.
    ShowPattern(panel, 16, 8, grey);
    QImage shot = ScreenshotFromScript(panel);
    ASSERT_FALSE(shot.isNull());
    const int top = kPicTop + (kPicHeight - 8 * 4) / 2;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            const int v = PatternAt(x, y);
            // Every screen pixel of the 4 x 4 block shows the image pixel.
            for (int dy : {0, 3})
                for (int dx : {0, 3})
                    ASSERT_EQ(shot.pixel(kPicLeft + 4 * x + dx, top + 4 * y + dy), qRgb(v, v, v))
                        << "image pixel " << x << "," << y;
        }
    EXPECT_EQ(shot.pixel(kPicLeft + 5, top - 1), qRgb(0, 0, 0));  // the ground above

    // A tall slice (4 x 40) keeps its aspect too: 1.2 screen pixels a pixel.
    ShowPattern(panel, 4, 40, grey);
    auto* picture = dynamic_cast<qt::PictureWidget*>(frontEnd->ControlWidget(panel, kPicture));
    ASSERT_NE(picture, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return picture->ImageSize() == QSize(4, 40); }));
    EXPECT_DOUBLE_EQ(picture->Scale(), 1.2);
    EXPECT_DOUBLE_EQ(picture->Origin().y(), 0);
    EXPECT_GT(picture->Origin().x(), 20);
}

TEST_F(QtFrontEndTest, PictureMouseReachesTheProgramInImageCoordinates) {
    const int panel = ShowMain();
    std::vector<int> grey(256);
    for (int i = 0; i < 256; ++i) grey[i] = i * 0x010101;
    ShowPattern(panel, kPicWidth, kPicHeight, grey);  // fits at 1:1
    auto* picture = Widget<QWidget>(panel, kPicture);
    ASSERT_NE(picture, nullptr);
    ASSERT_TRUE(PumpUntil([&] {
        return static_cast<qt::PictureWidget*>(picture)->ImageSize() ==
               QSize(kPicWidth, kPicHeight);
    }));

    QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(5, 7));
    ASSERT_TRUE(PumpUntil([] { return !ReceivedFor(kPicture, EVENT_LEFT_CLICK).empty(); }));
    const Received click = ReceivedFor(kPicture, EVENT_LEFT_CLICK).front();
    EXPECT_EQ(click.data1, kPicTop + 7);   // y first
    EXPECT_EQ(click.data2, kPicLeft + 5);  // then x
    QTest::mouseDClick(picture, Qt::LeftButton, {}, QPoint(6, 8));
    ASSERT_TRUE(PumpUntil([] { return !ReceivedFor(kPicture, EVENT_LEFT_DOUBLE_CLICK).empty(); }));
    EXPECT_EQ(ReceivedFor(kPicture, EVENT_LEFT_DOUBLE_CLICK).front().data1, kPicTop + 8);
    // The double click zoomed in one step (2:1) around the pointer: the image
    // pixel under it stays under it, and the program is told the zoom.
    double zoom = 0;
    EXPECT_TRUE(Eventually([&] {
        return GetCtrlAttribute(panel, kPicture, ATTR_PICTURE_ZOOM, &zoom) == 0 && zoom == 2.0;
    }));
    QTest::mouseMove(picture, QPoint(6, 8));
    ASSERT_TRUE(PumpUntil([] {
        const auto moves = ReceivedFor(kPicture, EVENT_MOUSE_POINTER_MOVE);
        return !moves.empty() && moves.back().data2 == kPicLeft + 6 &&
               moves.back().data1 == kPicTop + 8;
    }));
    // Two screen pixels further is one image pixel further.
    QTest::mouseMove(picture, QPoint(8, 12));
    ASSERT_TRUE(PumpUntil([] {
        const auto moves = ReceivedFor(kPicture, EVENT_MOUSE_POINTER_MOVE);
        return moves.back().data2 == kPicLeft + 7 && moves.back().data1 == kPicTop + 10;
    }));

    // Back to fit; a burst of pointer moves reaches the program thinned out,
    // ending with the last position.
    SetCtrlAttribute(panel, kPicture, ATTR_PICTURE_ZOOM, 0.0);
    ASSERT_TRUE(PumpUntil([&] {
        return std::abs(static_cast<qt::PictureWidget*>(picture)->Scale() - 1.0) < 1e-9;
    }));  // the model's fit reached the widget
    PumpFor(50ms);
    const size_t before = ReceivedFor(kPicture, EVENT_MOUSE_POINTER_MOVE).size();
    for (int i = 0; i < 60; ++i) QTest::mouseMove(picture, QPoint(1 + i % 30, 2 + i % 20));
    PumpFor(200ms);
    const auto moves = ReceivedFor(kPicture, EVENT_MOUSE_POINTER_MOVE);
    ASSERT_GT(moves.size(), before);
    EXPECT_LT(moves.size() - before, 30u);
    EXPECT_EQ(moves.back().data1, kPicTop + 2 + 59 % 20);
    EXPECT_EQ(moves.back().data2, kPicLeft + 1 + 59 % 30);

    // Leaving the widget tells the program once.
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(picture, &leave);
    ASSERT_TRUE(
        PumpUntil([] { return ReceivedFor(kPicture, EVENT_MOUSE_POINTER_LEAVE).size() == 1; }));

    // A dimmed picture takes no mouse input. The click on Go afterwards
    // shows that the queue has been worked through.
    SetCtrlAttribute(panel, kPicture, ATTR_DIMMED, 1);
    ASSERT_TRUE(PumpUntil([&] { return !picture->isEnabled(); }));
    const size_t clicks = ReceivedFor(kPicture, EVENT_LEFT_CLICK).size();
    QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(5, 7));
    Widget<QPushButton>(panel, kGo)->click();
    ASSERT_TRUE(PumpUntil([] { return !ReceivedFor(kGo, EVENT_COMMIT).empty(); }));
    EXPECT_EQ(ReceivedFor(kPicture, EVENT_LEFT_CLICK).size(), clicks);
}

TEST_F(QtFrontEndTest, TheWheelZoomsAroundThePointerAndADragPansWithoutAClick) {
    const int panel = ShowMain();
    std::vector<int> grey(256);
    for (int i = 0; i < 256; ++i) grey[i] = i * 0x010101;
    ShowPattern(panel, kPicWidth, kPicHeight, grey);
    auto* picture = dynamic_cast<qt::PictureWidget*>(frontEnd->ControlWidget(panel, kPicture));
    ASSERT_NE(picture, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return picture->ImageSize() == QSize(kPicWidth, kPicHeight); }));
    // Two notches: 1.25^2; the image point under the pointer (20, 10) stays.
    const QPointF at(20, 10);
    QWheelEvent wheel(at, picture->mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(picture, &wheel);
    EXPECT_DOUBLE_EQ(picture->Scale(), 1.5625);
    const QPointF underPointer = (at - picture->Origin()) / picture->Scale();
    EXPECT_NEAR(underPointer.x(), 20, 1.0);
    EXPECT_NEAR(underPointer.y(), 10, 1.0);
    double zoom = 0;
    GetCtrlAttribute(panel, kPicture, ATTR_PICTURE_ZOOM, &zoom);
    EXPECT_DOUBLE_EQ(zoom, 1.5625);

    // A drag moves the picture with the pointer and is no click.
    const QPointF origin = picture->Origin();
    const size_t clicks = ReceivedFor(kPicture, EVENT_LEFT_CLICK).size();
    QTest::mousePress(picture, Qt::LeftButton, {}, QPoint(30, 30));
    QTest::mouseMove(picture, QPoint(20, 25));
    QTest::mouseMove(picture, QPoint(10, 20));
    QTest::mouseRelease(picture, Qt::LeftButton, {}, QPoint(10, 20));
    EXPECT_LT(picture->Origin().x(), origin.x());
    EXPECT_LT(picture->Origin().y(), origin.y());
    // It stops where the image's edge meets the view's: no ground shows.
    EXPECT_GE(picture->Origin().x() + kPicWidth * picture->Scale(), kPicWidth - 1);
    Widget<QPushButton>(panel, kGo)->click();
    ASSERT_TRUE(PumpUntil([] { return !ReceivedFor(kGo, EVENT_COMMIT).empty(); }));
    EXPECT_EQ(ReceivedFor(kPicture, EVENT_LEFT_CLICK).size(), clicks);
}

// ---- resizable windows ----------------------------------------------------------------------

TEST_F(QtFrontEndTest, AResizableWindowGivesItsAnchoredControlsTheSpace) {
    const int panel = LoadPanel(0, resource, 2);
    ASSERT_GT(panel, 0) << LastLoadError();
    DisplayPanel(panel);
    QWidget* window = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        window = frontEnd->PanelWidget(panel);
        return window && window->isVisible();
    }));
    EXPECT_EQ(window->size(), QSize(200, 100));
    EXPECT_EQ(window->minimumSize(), QSize(150, 80));
    QWidget* view = frontEnd->ControlWidget(panel, 2);
    QWidget* side = frontEnd->ControlWidget(panel, 3);
    QWidget* below = frontEnd->ControlWidget(panel, 4);

    window->resize(260, 140);
    ASSERT_TRUE(PumpUntil([&] { return view->width() == 160; }));
    EXPECT_EQ(view->geometry(), QRect(10, 10, 160, 90));   // took all 60 x 40
    EXPECT_EQ(side->geometry(), QRect(180, 10, 60, 24));   // moved right
    EXPECT_EQ(below->geometry(), QRect(10, 110, 60, 24));  // moved down
    // Smaller than designed, down to the smallest size: the view gives way.
    window->resize(150, 80);
    ASSERT_TRUE(PumpUntil([&] { return view->width() == 50; }));
    EXPECT_EQ(view->height(), 30);
    EXPECT_EQ(side->x(), 70);
    // The program's model keeps the design geometry.
    int top = 0, left = 0, height = 0, width = 0;
    GetCtrlBoundingRect(panel, 2, &top, &left, &height, &width);
    EXPECT_EQ(width, 100);
    EXPECT_EQ(height, 50);
    // Mnemonics and shortcuts.
    auto* button = qobject_cast<QPushButton*>(side);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->shortcut(), QKeySequence(QStringLiteral("Ctrl+R")));
    EXPECT_NE(button->toolTip().indexOf(QStringLiteral("Ctrl+R")), -1);
}

// ---- input goes to the dispatch thread -------------------------------------------------------

TEST_F(QtFrontEndTest, ButtonClickRunsTheCallbackOnTheDispatchThread) {
    const int panel = ShowMain();
    Widget<QPushButton>(panel, kGo)->click();
    ASSERT_TRUE(PumpUntil([] { return !ReceivedFor(kGo, EVENT_COMMIT).empty(); }));
    const Received commit = ReceivedFor(kGo, EVENT_COMMIT).front();
    EXPECT_EQ(commit.panel, panel);
    EXPECT_EQ(commit.thread, dispatchThread);
    EXPECT_NE(commit.thread, std::this_thread::get_id());
}

TEST_F(QtFrontEndTest, TypedValuesReachTheModelWithOneCommit) {
    const int panel = ShowMain();
    auto* exposure = Widget<QDoubleSpinBox>(panel, kExposure);
    ASSERT_NE(exposure, nullptr);
    QTest::keyClick(exposure, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(exposure, "7.25");
    QTest::keyClick(exposure, Qt::Key_Return);
    ASSERT_TRUE(PumpUntil([] { return !ReceivedFor(kExposure, EVENT_COMMIT).empty(); }));
    double value = 0;
    GetCtrlVal(panel, kExposure, &value);
    EXPECT_DOUBLE_EQ(value, 7.25);
    // Return and the end of editing both finish the edit: still one commit.
    emit exposure->editingFinished();
    PumpFor(50ms);
    EXPECT_EQ(ReceivedFor(kExposure, EVENT_COMMIT).size(), 1u);

    // Return in a text field: the text, then the key, then the commit.
    auto* name = Widget<QLineEdit>(panel, kName);
    ASSERT_NE(name, nullptr);
    name->selectAll();
    QTest::keyClicks(name, "Fe I");
    QTest::keyClick(name, Qt::Key_Return);
    ASSERT_TRUE(PumpUntil([] { return !ReceivedFor(kName, EVENT_COMMIT).empty(); }));
    std::string text;
    GetCtrlVal(panel, kName, &text);
    EXPECT_EQ(text, "Fe I");
    const auto keys = ReceivedFor(kName, EVENT_KEYPRESS);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].data1, VAL_ENTER_VKEY);
    std::lock_guard lock(receivedMutex);
    const auto key = std::find_if(received.begin(), received.end(),
                                  [](const Received& r) { return r.event == EVENT_KEYPRESS; });
    const auto commit = std::find_if(received.begin(), received.end(), [](const Received& r) {
        return r.control == kName && r.event == EVENT_COMMIT;
    });
    EXPECT_LT(key, commit);
}

TEST_F(QtFrontEndTest, TableEditIsTypedByColumnAndBracketedByEditEvents) {
    const int panel = ShowMain();
    auto* table = Widget<QTableWidget>(panel, kTable);
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->columnCount(), 3);
    EXPECT_EQ(table->horizontalHeaderItem(0)->text(), "Wavelength");
    ASSERT_TRUE(PumpUntil([&] { return table->rowCount() == 2; }));

    // Row 1, column 2 (Order, int): "12.7 " is read leniently as 13.
    table->editItem(table->item(0, 1));
    auto* editor = table->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText("12.7 ");
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(PumpUntil([] {
        for (const Received& r : ReceivedFor(kTable, EVENT_EDIT_MODE_STATE_CHANGE))
            if (r.data1 == 0) return true;
        return false;
    }));
    const auto edits = ReceivedFor(kTable, EVENT_EDIT_MODE_STATE_CHANGE);
    ASSERT_EQ(edits.size(), 2u);
    EXPECT_EQ(edits[0].data1, 1);
    EXPECT_EQ(edits[1].data1, 0);
    EXPECT_EQ(edits[0].data2, 1 * 65536 + 2);
    EXPECT_EQ(edits[1].data2, 1 * 65536 + 2);
    int order = 0;
    EXPECT_EQ(GetTableCellVal(panel, kTable, MakePoint(2, 1), &order), 0);
    EXPECT_EQ(order, 13);
    Point active;
    GetActiveTableCell(panel, kTable, &active);
    EXPECT_EQ(active.x, 2);
    EXPECT_EQ(active.y, 1);

    // A wavelength that is no number leaves the model as it was.
    SetTableCellVal(panel, kTable, MakePoint(1, 2), 6302.5);
    ASSERT_TRUE(PumpUntil([&] { return table->item(1, 0)->text() == "6302.5"; }));
    table->item(1, 0)->setText("line");
    PumpFor(20ms);
    double wavelength = 0;
    GetTableCellVal(panel, kTable, MakePoint(1, 2), &wavelength);
    EXPECT_DOUBLE_EQ(wavelength, 6302.5);
    EXPECT_EQ(table->item(1, 0)->text(), "6302.5");
}

TEST_F(QtFrontEndTest, CloseBoxAsksTheProgramInsteadOfClosing) {
    const int panel = ShowMain();
    QWidget* window = frontEnd->PanelWidget(panel);
    window->close();
    ASSERT_TRUE(PumpUntil([] { return !ReceivedFor(0, EVENT_CLOSE).empty(); }));
    EXPECT_EQ(ReceivedFor(0, EVENT_CLOSE).front().panel, panel);
    EXPECT_TRUE(window->isVisible());
    HidePanel(panel);
    EXPECT_TRUE(PumpUntil([&] { return !window->isVisible(); }));
}

TEST_F(QtFrontEndTest, MenuChoicesGoToTheProgramWhichKeepsTheCheckMarks) {
    const int panel = ShowMain();
    QWidget* window = frontEnd->PanelWidget(panel);
    const int bar = LoadMenuBar(panel, resource, 1);
    ASSERT_GT(bar, 0) << LastLoadError();
    const int openItem = FindMenuItem(bar, "OPEN"), liveItem = FindMenuItem(bar, "LIVE");
    SetMenuBarAttribute(bar, FindMenuItem(bar, "EXIT"), ATTR_DIMMED, 1);
    SetMenuBarAttribute(bar, liveItem, ATTR_CHECKED, 1);
    QMenuBar* menuBar = nullptr;
    QList<QAction*> items;
    ASSERT_TRUE(PumpUntil([&] {
        menuBar = frontEnd->PanelMenuBar(panel);
        if (!menuBar || menuBar->actions().isEmpty()) return false;
        items = menuBar->actions().front()->menu()->actions();
        return items.size() == 4 && !items[3]->isEnabled() && items[1]->isChecked();
    }));
    EXPECT_EQ(menuBar->actions().front()->text(), "File");
    EXPECT_EQ(items[0]->text(), "&Open...");  // Alt+O in the open menu
    EXPECT_EQ(items[0]->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    EXPECT_TRUE(items[2]->isSeparator());
    // The menu bar sits above the panel's area, which keeps its full size.
    EXPECT_EQ(window->height(), 330 + menuBar->height());
    EXPECT_EQ(frontEnd->ControlWidget(panel, kGo)->mapTo(window, QPoint(0, 0)),
              QPoint(100, 20 + menuBar->height()));

    items[0]->trigger();
    ASSERT_TRUE(PumpUntil([&] { return !ReceivedFor(openItem, kMenuChosen).empty(); }));
    const Received choice = ReceivedFor(openItem, kMenuChosen).front();
    EXPECT_EQ(choice.data1, bar);
    EXPECT_EQ(choice.panel, panel);
    EXPECT_EQ(choice.thread, dispatchThread);

    // Qt would uncheck the item on a click; the program has not.
    items[1]->trigger();
    ASSERT_TRUE(PumpUntil([&] { return !ReceivedFor(liveItem, kMenuChosen).empty(); }));
    EXPECT_TRUE(items[1]->isChecked());
}

// ---- program side to window --------------------------------------------------------------

TEST_F(QtFrontEndTest, ValuesSetByAWorkerThreadAppearInTheWidgets) {
    const int panel = ShowMain();
    std::thread worker([&] {
        SetCtrlVal(panel, kExposure, 42.125);
        SetCtrlVal(panel, kName, "Fe I 6302");
        SetCtrlVal(panel, kStatus, "line 1\n");
        SetCtrlVal(panel, kStatus, "line 2\n");
    });
    worker.join();
    auto* exposure = Widget<QDoubleSpinBox>(panel, kExposure);
    auto* name = Widget<QLineEdit>(panel, kName);
    auto* status = Widget<QPlainTextEdit>(panel, kStatus);
    ASSERT_TRUE(exposure && name && status);
    ASSERT_TRUE(PumpUntil([&] { return exposure->value() == 42.125; }));
    EXPECT_EQ(exposure->decimals(), 3);
    EXPECT_EQ(name->text(), "Fe I 6302");
    EXPECT_EQ(status->toPlainText(), "line 1\nline 2\n");
    // A later line is appended to what the box shows already.
    SetCtrlVal(panel, kStatus, "line 3");
    EXPECT_TRUE(PumpUntil([&] { return status->toPlainText() == "line 1\nline 2\nline 3"; }))
        << status->toPlainText().toStdString();

    // A warning stands out in its colour; the lines around it do not.
    AppendWarningText(panel, kStatus, "\n2 frames late\n");
    SetCtrlVal(panel, kStatus, "line 4\n");
    ASSERT_TRUE(PumpUntil([&] { return status->toPlainText().endsWith("line 4\n"); }));
    auto colourAt = [&](const QString& text) {
        QTextCursor cursor(status->document());
        cursor.setPosition(status->toPlainText().indexOf(text) + 1);
        return cursor.charFormat().foreground().color();
    };
    EXPECT_EQ(colourAt("2 frames late"), QColor(0xB0, 0x00, 0x00));
    EXPECT_NE(colourAt("line 4"), QColor(0xB0, 0x00, 0x00));
    EXPECT_NE(colourAt("line 2"), QColor(0xB0, 0x00, 0x00));

    // A status box that is reset shows the new text only.
    ResetTextBox(panel, kStatus, "fresh\n");
    EXPECT_TRUE(PumpUntil([&] { return status->toPlainText() == "fresh\n"; }))
        << status->toPlainText().toStdString();
    EXPECT_NE(colourAt("fresh"), QColor(0xB0, 0x00, 0x00));

    SetCtrlAttribute(panel, kExposure, ATTR_DIMMED, 1);
    SetCtrlAttribute(panel, kName, ATTR_VISIBLE, 0);
    EXPECT_TRUE(PumpUntil([&] { return !exposure->isEnabled() && !name->isVisible(); }));
}

TEST_F(QtFrontEndTest, ManyChangesFromAWorkerCostOneRefresh) {
    const int panel = ShowMain();
    auto* exposure = Widget<QDoubleSpinBox>(panel, kExposure);
    ASSERT_NE(exposure, nullptr);
    PumpFor(20ms);
    const int before = frontEnd->RefreshCount();
    // The GUI thread is busy (here: waiting) while the worker sets values.
    std::thread worker([&] {
        for (int i = 1; i <= 2000; ++i) SetCtrlVal(panel, kExposure, i / 100.0);
    });
    worker.join();
    ASSERT_TRUE(PumpUntil([&] { return exposure->value() == 20.0; }));
    PumpFor(20ms);
    EXPECT_LE(frontEnd->RefreshCount() - before, 2);
}

TEST_F(QtFrontEndTest, TabPagesShowTheirPanelsAndFollowTheUser) {
    const int panel = ShowMain();
    auto* tabs = Widget<QTabWidget>(panel, kTabs);
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), "Camera");
    EXPECT_EQ(tabs->tabText(1), "Scanner");
    int cameraPage = 0;
    ASSERT_EQ(GetPanelHandleFromTabPage(panel, kTabs, 0, &cameraPage), 0);
    QWidget* gain = frontEnd->ControlWidget(cameraPage, 2);
    ASSERT_NE(gain, nullptr);
    EXPECT_TRUE(tabs->isAncestorOf(gain));

    SetTabPageAttribute(panel, kTabs, 1, ATTR_DIMMED, 1);
    ASSERT_TRUE(PumpUntil([&] { return !tabs->isTabEnabled(1); }));
    SetTabPageAttribute(panel, kTabs, 1, ATTR_DIMMED, 0);
    ASSERT_TRUE(PumpUntil([&] { return tabs->isTabEnabled(1); }));

    tabs->setCurrentIndex(1);  // as a click on the tab does
    int active = 0;
    EXPECT_TRUE(Eventually([&] { return GetCtrlVal(panel, kTabs, &active) == 0 && active == 1; }));
    SetCtrlVal(panel, kTabs, 0);
    EXPECT_TRUE(PumpUntil([&] { return tabs->currentIndex() == 0; }));
}

TEST_F(QtFrontEndTest, GraphShowsPlotsAsSeriesAndForgetsDeletedOnes) {
    const int panel = ShowMain();
    auto* view = Widget<QChartView>(panel, kGraph);
    ASSERT_NE(view, nullptr);
    const std::vector<double> y = {1, 4, 9, 16, 25};
    const int line = PlotY(panel, kGraph, y, VAL_THIN_LINE, VAL_RED);
    ASSERT_GT(line, 0);
    const std::vector<double> centres = {0.5, 1.5, 2.5}, counts = {3, 0, 7};
    ASSERT_GT(PlotXY(panel, kGraph, centres, counts, VAL_VERTICAL_BAR, VAL_BLUE), 0);
    ASSERT_TRUE(PumpUntil([&] { return view->chart()->series().size() == 2; }));
    auto* lineSeries = qobject_cast<QLineSeries*>(view->chart()->series()[0]);
    ASSERT_NE(lineSeries, nullptr);
    EXPECT_EQ(lineSeries->count(), 5);
    EXPECT_EQ(lineSeries->at(4), QPointF(4, 25));
    EXPECT_EQ(lineSeries->pen().color(), QColor(255, 0, 0));
    auto* bars = qobject_cast<QAreaSeries*>(view->chart()->series()[1]);
    ASSERT_NE(bars, nullptr);
    // The outline steps over each bin from edge to edge.
    const QList<QPointF> outline = bars->upperSeries()->points();
    EXPECT_TRUE(outline.contains(QPointF(2, 7)));
    EXPECT_TRUE(outline.contains(QPointF(3, 7)));
    EXPECT_TRUE(outline.contains(QPointF(0, 3)));

    DeleteGraphPlot(panel, kGraph, line);
    ASSERT_TRUE(PumpUntil([&] { return view->chart()->series().size() == 1; }));
    DeleteGraphPlot(panel, kGraph, -1);
    EXPECT_TRUE(PumpUntil([&] { return view->chart()->series().isEmpty(); }));
}

TEST_F(QtFrontEndTest, GraphTicksFallOnRoundValuesAndAxesCarryTheirTitles) {
    const int panel = ShowMain();
    auto* view = Widget<QChartView>(panel, kGraph);
    ASSERT_NE(view, nullptr);
    // A histogram from 2275 to 5557 (bin edges), then a row profile in its place.
    std::vector<double> centres(100), counts(100);
    for (int i = 0; i < 100; ++i) {
        centres[i] = 2275 + (i + 0.5) * 32.82;
        counts[i] = i * 3;
    }
    const int bars = PlotXY(panel, kGraph, centres, counts, VAL_VERTICAL_BAR, VAL_BLUE);
    ASSERT_GT(bars, 0);
    SetCtrlAttribute(panel, kGraph, ATTR_XNAME, "Value (ADU)");
    SetCtrlAttribute(panel, kGraph, ATTR_YNAME, "Pixels");
    auto axis = [&](Qt::Orientation o) {
        return qobject_cast<QValueAxis*>(view->chart()->axes(o).value(0));
    };
    ASSERT_TRUE(PumpUntil([&] { return view->chart()->series().size() == 1; }));
    ASSERT_NE(axis(Qt::Horizontal), nullptr);
    EXPECT_TRUE(PumpUntil([&] { return axis(Qt::Horizontal)->titleText() == "Value (ADU)"; }));
    EXPECT_EQ(axis(Qt::Vertical)->titleText(), "Pixels");
    EXPECT_EQ(qt::RoundStep(3282, 5), 1000);
    EXPECT_EQ(qt::RoundStep(11, 5), 2.5);
    EXPECT_DOUBLE_EQ(qt::RoundStep(0.9, 5), 0.2);
    // The axis runs from 2000 to 6000 in steps of 1000 (steps are 1, 2, 2.5
    // or 5 x 10^k), so every tick is a round value.
    EXPECT_EQ(axis(Qt::Horizontal)->min(), 2000);
    EXPECT_EQ(axis(Qt::Horizontal)->max(), 6000);
    EXPECT_EQ(axis(Qt::Horizontal)->tickCount(), 5);
    EXPECT_EQ(axis(Qt::Vertical)->min(), 0);

    std::vector<double> row(256);
    for (int i = 0; i < 256; ++i) row[i] = 700 + 15 * i;
    DeleteGraphPlot(panel, kGraph, bars);
    ASSERT_GT(PlotY(panel, kGraph, row, VAL_THIN_LINE, VAL_GREEN), 0);
    ASSERT_TRUE(PumpUntil([&] {
        const auto series = view->chart()->series();
        return series.size() == 1 && qobject_cast<QLineSeries*>(series[0]) &&
               qobject_cast<QLineSeries*>(series[0])->count() == 256;
    }));
    EXPECT_EQ(axis(Qt::Horizontal)->min(), 0);
    EXPECT_EQ(axis(Qt::Horizontal)->max(), 300);
    EXPECT_EQ(axis(Qt::Horizontal)->tickCount(), 4);
    EXPECT_EQ(axis(Qt::Vertical)->min(), 0);  // 700 .. 4525 padded, in steps of 1000
    EXPECT_EQ(axis(Qt::Vertical)->max(), 5000);
}

// ---- popups --------------------------------------------------------------------------------

QMessageBox* OpenMessageBox() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) return box;
    return nullptr;
}

TEST_F(QtFrontEndTest, ConfirmPopupWaitsForThePersonsAnswer) {
    const int panel = ShowMain();
    // The box runs its own event loop on this thread: the person's answer
    // comes from a timer inside that loop.
    QString question;
    bool callbackWaited = false;
    QTimer person;
    person.setInterval(5);
    QObject::connect(&person, &QTimer::timeout, [&] {
        QMessageBox* box = OpenMessageBox();
        if (!box) return;
        person.stop();
        question = box->text();
        callbackWaited = confirmAnswer.load() == -1;
        box->button(QMessageBox::No)->click();
    });
    person.start();
    Widget<QPushButton>(panel, kAsk)->click();
    ASSERT_TRUE(PumpUntil([] { return confirmAnswer.load() != -1; }));
    EXPECT_EQ(question, "Open the shutter?");
    EXPECT_TRUE(callbackWaited);
    EXPECT_EQ(confirmAnswer.load(), 0);

    // Once the GUI has closed, a popup cannot wait for an answer.
    frontEnd->CloseGui();
    confirmAnswer = -1;
    PostEvent(panel, kAsk, EVENT_COMMIT);
    EXPECT_TRUE(Eventually([] { return confirmAnswer.load() != -1; }));
    EXPECT_EQ(OpenMessageBox(), nullptr);
}

TEST_F(QtFrontEndTest, AMessageDuringLongWorkStaysOnScreenWhileTheWorkGoesOn) {
    const int panel = ShowMain();
    std::atomic<bool> returned{false};
    PostDeferredCall([&] {
        const int hold = HoldDimmed({{panel, kGo}});
        MessagePopup("Error", "Motor is still running.");
        returned = true;
        ReleaseHold(hold);
    });
    ASSERT_TRUE(PumpUntil([&] { return returned.load() && OpenMessageBox() != nullptr; }));
    QMessageBox* box = OpenMessageBox();
    EXPECT_EQ(box->text(), "Motor is still running.");
    box->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(PumpUntil([] { return OpenMessageBox() == nullptr; }));
}

TEST_F(QtFrontEndTest, ErrorsAndRunSummariesDoNotWearTheInformationIcon) {
    ShowMain();
    std::vector<QMessageBox::Icon> icons;
    QTimer person;
    person.setInterval(5);
    QObject::connect(&person, &QTimer::timeout, [&] {
        if (QMessageBox* box = OpenMessageBox()) {
            icons.push_back(box->icon());
            box->button(QMessageBox::Ok)->click();
        }
    });
    person.start();
    frontEnd->ShowMessage("Error", "Exposure time error");
    frontEnd->ShowMessage("Run summary", "This run needs a look:");
    frontEnd->ShowMessage("About", "PELU_dbg");
    person.stop();
    EXPECT_EQ(icons, (std::vector<QMessageBox::Icon>{QMessageBox::Critical, QMessageBox::Warning,
                                                     QMessageBox::Information}));
}

TEST_F(QtFrontEndTest, ScriptResponderAnswersPopupsInsteadOfAPerson) {
    responder.QueueConfirmAnswer(true);
    SetFrontEnd(nullptr);
    frontEnd = std::make_unique<QtFrontEnd>(&responder);
    SetFrontEnd(frontEnd.get());
    const int panel = ShowMain();
    Widget<QPushButton>(panel, kAsk)->click();
    ASSERT_TRUE(PumpUntil([] { return confirmAnswer.load() != -1; }));
    EXPECT_EQ(confirmAnswer.load(), 1);
    ASSERT_EQ(responder.Popups().size(), 1u);
    EXPECT_EQ(responder.Popups()[0].title, "Shutter");
    EXPECT_EQ(OpenMessageBox(), nullptr);
}

}  // namespace
}  // namespace ui::testing
