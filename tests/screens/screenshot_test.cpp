// What an observer sees: each program runs a short script with the Qt
// front-end drawing offscreen and saves a screenshot of its main panel; the
// picture, the histogram and the wavelength table are then looked at pixel
// by pixel where the resource file places them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

namespace {

namespace fs = std::filesystem;

struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
};

// Where a control of a panel sits, as its resource file says.
Rect ControlRect(const char* uirPath, const std::string& panel, const std::string& control) {
    std::ifstream in(uirPath);
    const nlohmann::json uir = nlohmann::json::parse(in);
    for (const auto& p : uir.at("panels")) {
        if (p.value("name", "") != panel) continue;
        for (const auto& c : p.at("controls"))
            if (c.value("name", "") == control)
                return Rect{c.at("left").get<int>(), c.at("top").get<int>(),
                            c.at("width").get<int>(), c.at("height").get<int>()};
    }
    ADD_FAILURE() << control << " not found in " << uirPath;
    return {};
}

// The inner part of `r`, `margin` pixels in from each side: clear of the
// control's frame and of a menu bar that shifts the panel's contents down.
Rect Inner(Rect r, int margin) {
    return Rect{r.left + margin, r.top + margin, std::max(0, r.width - 2 * margin),
                std::max(0, r.height - 2 * margin)};
}

// The part of `r` that lies on the screenshot.
Rect Clip(const QImage& shot, Rect r) {
    r.width = std::max(0, std::min(r.width, shot.width() - r.left));
    r.height = std::max(0, std::min(r.height, shot.height() - r.top));
    return r;
}

// Distinct grey levels (red = green = blue) within `r`.
size_t GreyLevels(const QImage& shot, Rect r) {
    r = Clip(shot, r);
    std::set<int> levels;
    for (int y = r.top; y < r.top + r.height; ++y)
        for (int x = r.left; x < r.left + r.width; ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (c.red() == c.green() && c.green() == c.blue()) levels.insert(c.red());
        }
    return levels.size();
}

// Pixels within `r` that `match` accepts.
template <typename Match>
int CountPixels(const QImage& shot, Rect r, Match match) {
    r = Clip(shot, r);
    int count = 0;
    for (int y = r.top; y < r.top + r.height; ++y)
        for (int x = r.left; x < r.left + r.width; ++x) count += match(shot.pixelColor(x, y));
    return count;
}

bool Blue(const QColor& c) { return c.blue() > 180 && c.blue() - c.red() > 80 && c.blue() - c.green() > 80; }
bool Dark(const QColor& c) { return c.red() < 90 && c.green() < 90 && c.blue() < 90; }

class ScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("pelu-screens-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        for (const char* name : {"Wv.ini", "IPaddr.ini", "pelu.head", "pelu.tail"})
            fs::copy_file(fs::path(PELU_SITE_DIR) / name, folder / name);
    }
    void TearDown() override { fs::remove_all(folder); }

    // Runs `program` on `script` in the scratch folder with the Qt front-end
    // offscreen and returns the screenshot `png` it saved.
    QImage Run(const char* program, const std::string& script, const std::string& png) {
        std::ofstream(folder / "script.pelu") << script;
        const std::string command =
            "cd '" + folder.string() + "' && QT_QPA_PLATFORM=offscreen PELU_TIME_SCALE=0.05 "
            "PELU_DRIVE_E='" + (folder / "E").string() + "' '" + program +
            "' --script script.pelu > run.log 2>&1";
        const int status = std::system(command.c_str());
        std::ifstream log(folder / "run.log");
        const std::string output((std::istreambuf_iterator<char>(log)), {});
        EXPECT_EQ(status, 0) << output;
        QImage shot(QString::fromStdString((folder / png).string()));
        EXPECT_FALSE(shot.isNull()) << "no screenshot " << png << "\n" << output;
        return shot;
    }

    fs::path folder;
};

TEST_F(ScreenshotTest, AcquisitionProgramShowsTheFrameAndItsHistogram) {
    const QImage shot = Run(PELU_DBG_PROGRAM, R"(timeout 6000
commit MAIN.CCD_TOGGLE
expect status "Open Complete"
commit MAIN.SETUP
set CAMERA_PAGE.TAKEMODE "Single scan"
set CAMERA_PAGE.FRAMES 1
set OBS_PAGE.TARGET Sunspot
commit OBS_PAGE.TARGET
commit SETTINGS.OK
commit MAIN.RUN
# The run waits for the observer after its repetition; Stop ends it and the
# frame is shown.
expect status "Repetition 1 of 1 done"
commit MAIN.STOP
expect value MAIN.VIEW_CCD1 1
screenshot main.png
quit
)", "main.png");
    ASSERT_FALSE(shot.isNull());
    // The frame is drawn in greys: a camera frame has many levels, a blank
    // or untouched picture one or two.
    const Rect picture = Inner(ControlRect(PELU_DBG_UIR, "MAIN", "PICTURE"), 40);
    EXPECT_GT(GreyLevels(shot, picture), 64u);
    // The histogram's bars are blue.
    const Rect graph = Inner(ControlRect(PELU_DBG_UIR, "MAIN", "GRAPH"), 30);
    EXPECT_GT(CountPixels(shot, graph, Blue), 200);
}

TEST_F(ScreenshotTest, OneCameraProgramShowsTheFrameItTook) {
    const QImage shot = Run(PELU_PROGRAM, R"(timeout 6000
commit MAIN.CCD_TOGGLE
expect status "Open Complete"
commit MAIN.SETUP
set CAMERA_PAGE.FRAMES 1
commit SETTINGS.OK
commit MAIN.TAKE
screenshot main.png
quit
)", "main.png");
    ASSERT_FALSE(shot.isNull());
    EXPECT_GT(GreyLevels(shot, Inner(ControlRect(PELU_UIR, "MAIN", "PICTURE"), 40)), 64u);
    EXPECT_GT(CountPixels(shot, Inner(ControlRect(PELU_UIR, "MAIN", "GRAPH"), 30), Blue), 200);
}

TEST_F(ScreenshotTest, WavelengthEditorShowsTheTableOfWvIni) {
    const QImage shot =
        Run(LINTAB_PROGRAM, "commit PANEL.RELOADBTN\nscreenshot table.png\nquit\n", "table.png");
    ASSERT_FALSE(shot.isNull());
    // The table starts empty; Reload shows the site's Wv.ini, whose entries'
    // digits are dark text in the table's first rows, below the column titles.
    Rect table = ControlRect(LINTAB_UIR, "PANEL", "WVTABLE");
    Rect firstRows{table.left, table.top + 30, table.width, 60};
    EXPECT_GT(CountPixels(shot, firstRows, Dark), 100);

    // Without a Wv.ini, Reload says so and the table shows no digits there.
    fs::remove(folder / "Wv.ini");
    const QImage empty =
        Run(LINTAB_PROGRAM, "commit PANEL.RELOADBTN\nscreenshot empty.png\nquit\n", "empty.png");
    ASSERT_FALSE(empty.isNull());
    EXPECT_LT(CountPixels(empty, firstRows, Dark), CountPixels(shot, firstRows, Dark) / 4);
}

}  // namespace
