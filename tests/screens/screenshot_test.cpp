// What an observer sees: each program runs a short script with the Qt
// front-end drawing offscreen and saves a screenshot of its main panel; the
// picture, the histogram and the wavelength table are then looked at pixel
// by pixel where the resource file places them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
    int right() const { return left + width; }
    int bottom() const { return top + height; }
};

// The two screens an observer's workstation is likely to have.
struct Screen {
    int width, height;
};
constexpr Screen kLaptop{1366, 768};
constexpr Screen kDesk{1920, 1080};

// A panel as its resource file describes it: the design size, and where a
// control sits once the window is `shot` large (docs/resources.md,
// "Resizable panels"): anchored right it moves with the right edge, anchored
// left and right it grows; likewise for bottom. `menuBar` is the height of
// the menu bar above the panel's area.
class Layout {
  public:
    Layout(const char* uirPath, const std::string& panel) {
        std::ifstream in(uirPath);
        const nlohmann::json uir = nlohmann::json::parse(in);
        for (const auto& p : uir.at("panels"))
            if (p.value("name", "") == panel) panel_ = p;
        if (panel_.is_null()) ADD_FAILURE() << panel << " not found in " << uirPath;
    }
    int Width() const { return panel_.value("width", 0); }
    int Height() const { return panel_.value("height", 0); }

    Rect Control(const std::string& name, const QImage& shot, int menuBar) const {
        for (const auto& c : panel_.at("controls")) {
            if (c.value("name", "") != name) continue;
            Rect r{c.at("left").get<int>(), c.at("top").get<int>(), c.at("width").get<int>(),
                   c.at("height").get<int>()};
            const std::string anchor = c.value("anchor", "left top");
            const bool left = anchor.find("left") != std::string::npos ||
                              anchor.find("right") == std::string::npos;
            const bool right = anchor.find("right") != std::string::npos;
            const bool top = anchor.find("top") != std::string::npos ||
                             anchor.find("bottom") == std::string::npos;
            const bool bottom = anchor.find("bottom") != std::string::npos;
            const int dx = panel_.value("resizable", false) ? shot.width() - Width() : 0;
            const int dy =
                panel_.value("resizable", false) ? shot.height() - menuBar - Height() : 0;
            if (right) (left ? r.width : r.left) += dx;
            if (bottom) (top ? r.height : r.top) += dy;
            r.top += menuBar;
            return r;
        }
        ADD_FAILURE() << name << " not found";
        return {};
    }

  private:
    nlohmann::json panel_;
};

// The inner part of `r`, `margin` pixels in from each side.
Rect Inner(Rect r, int margin) {
    return Rect{r.left + margin, r.top + margin, std::max(0, r.width - 2 * margin),
                std::max(0, r.height - 2 * margin)};
}

// The part of `r` that lies on the screenshot.
Rect Clip(const QImage& shot, Rect r) {
    r.left = std::max(0, r.left);
    r.top = std::max(0, r.top);
    r.width = std::max(0, std::min(r.width, shot.width() - r.left));
    r.height = std::max(0, std::min(r.height, shot.height() - r.top));
    return r;
}

bool Grey(const QColor& c) {
    return c.red() == c.green() && c.green() == c.blue();
}
bool Blue(const QColor& c) {
    return c.blue() > 180 && c.blue() - c.red() > 80 && c.blue() - c.green() > 80;
}
bool Dark(const QColor& c) {
    return c.red() < 90 && c.green() < 90 && c.blue() < 90;
}

// Distinct grey levels (red = green = blue) within `r`.
size_t GreyLevels(const QImage& shot, Rect r) {
    r = Clip(shot, r);
    std::set<int> levels;
    for (int y = r.top; y < r.bottom(); ++y)
        for (int x = r.left; x < r.right(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (Grey(c)) levels.insert(c.red());
        }
    return levels.size();
}

// Pixels within `r` that `match` accepts.
template <typename Match>
int CountPixels(const QImage& shot, Rect r, Match match) {
    r = Clip(shot, r);
    int count = 0;
    for (int y = r.top; y < r.bottom(); ++y)
        for (int x = r.left; x < r.right(); ++x) count += match(shot.pixelColor(x, y));
    return count;
}

// The bounding box, within `r`, of the pixels `match` accepts.
template <typename Match>
Rect BoundingBox(const QImage& shot, Rect r, Match match) {
    r = Clip(shot, r);
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
    for (int y = r.top; y < r.bottom(); ++y)
        for (int x = r.left; x < r.right(); ++x)
            if (match(shot.pixelColor(x, y))) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    if (right < 0) return {};
    return Rect{left, top, right - left + 1, bottom - top + 1};
}

// The picture control's view: below its toolbar (28 pixels), left of its
// colour bar (70 pixels).
constexpr int kToolbar = 28, kColourBar = 70;
Rect ViewOf(Rect picture) {
    return Rect{picture.left, picture.top + kToolbar, picture.width - kColourBar,
                picture.height - kToolbar};
}

// Where the picture's image is drawn in `view`: the lit grey pixels, the
// ground around the image being black.
Rect ImageOnScreen(const QImage& shot, Rect view) {
    return BoundingBox(shot, Inner(view, 1),
                       [](const QColor& c) { return Grey(c) && c.red() > 8; });
}

// The menu bar's height. Going down the picture's view just left of its
// colour bar, the first black pixel is the view's top: the image's ground,
// which shows beside any image that does not fill the view's width, and
// above any that does not fill its height.
int MenuBarHeight(const QImage& shot, const Rect& pictureWithoutBar) {
    const int x = pictureWithoutBar.right() - kColourBar - 4;
    for (int y = 0; y < shot.height(); ++y)
        if (shot.pixelColor(x, y) == QColor(0, 0, 0)) return y - pictureWithoutBar.top - kToolbar;
    return -1;
}

// A minimal FITS file: frames of width x height 16-bit samples (BZERO
// 32768; frames 1 makes a 2-D image), one value per pixel from `sample`.
void WriteFits(const fs::path& path, int width, int height, int frames,
               const std::function<int(int, int, int)>& sample) {
    std::string header;
    auto card = [&](const std::string& text) {
        std::string c = text;
        c.resize(80, ' ');
        header += c;
    };
    char line[81];
    card("SIMPLE  =                    T");
    card("BITPIX  =                   16");
    card(frames > 1 ? "NAXIS   =                    3" : "NAXIS   =                    2");
    std::snprintf(line, sizeof line, "NAXIS1  = %20d", width);
    card(line);
    std::snprintf(line, sizeof line, "NAXIS2  = %20d", height);
    card(line);
    if (frames > 1) {
        std::snprintf(line, sizeof line, "NAXIS3  = %20d", frames);
        card(line);
    }
    card("BZERO   =                32768");
    card("BSCALE  =                    1");
    card("EXPTIME =                 0.25");
    card("END");
    header.resize(2880, ' ');
    std::string data;
    for (int f = 0; f < frames; ++f)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int stored = sample(x, y, f) - 32768;
                data += char((stored >> 8) & 0xFF);
                data += char(stored & 0xFF);
            }
    data.resize((data.size() + 2879) / 2880 * 2880, '\0');
    std::ofstream(path, std::ios::binary) << header << data;
}

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
    // drawing offscreen on a screen of `screen` and returns the screenshot
    // `png` it saved.
    QImage Run(const char* program, const std::string& script, const std::string& png,
               Screen screen = kDesk) {
        std::ofstream(folder / "script.pelu") << script;
        std::ofstream(folder / "screen.json")
            << "{ \"screens\": [ { \"name\": \"screen\", \"x\": 0, \"y\": 0, \"width\": "
            << screen.width << ", \"height\": " << screen.height
            << ", \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1 } ] }";
        const std::string command =
            "cd '" + folder.string() +
            "' && QT_QPA_PLATFORM='offscreen:configfile=" + (folder / "screen.json").string() +
            "' PELU_TIME_SCALE=0.05 "
            "PELU_DRIVE_E='" +
            (folder / "E").string() + "' '" + program + "' --script script.pelu > run.log 2>&1";
        const int status = std::system(command.c_str());
        std::ifstream log(folder / "run.log");
        const std::string output((std::istreambuf_iterator<char>(log)), {});
        EXPECT_EQ(status, 0) << output;
        QImage shot(QString::fromStdString((folder / png).string()));
        EXPECT_FALSE(shot.isNull()) << "no screenshot " << png << "\n" << output;
        return shot;
    }

    // The main window fills the screen and every control of it is on the
    // screenshot, down to the last row: nothing is cut off.
    void ExpectWholeWindowOnScreen(const QImage& shot, Screen screen, const Layout& main, int bar) {
        // The window fills the screen but for the frame a window system draws.
        EXPECT_LE(shot.width(), screen.width);
        EXPECT_GT(shot.width(), screen.width - 12);
        EXPECT_LE(shot.height(), screen.height);
        EXPECT_GT(shot.height(), screen.height - 40);
        const Rect quit = main.Control("QUIT", shot, bar);
        EXPECT_LE(quit.bottom(), shot.height());
        EXPECT_LE(quit.right(), shot.width());
        // The button's text is there to read.
        EXPECT_GT(CountPixels(shot, Inner(quit, 6), Dark), 10);
        const Rect summary = main.Control("SUM_WAVELENGTH", shot, bar);
        EXPECT_LE(summary.bottom(), shot.height());
    }

    fs::path folder;
};

const char* const kOneFrame = R"(timeout 6000
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
)";

TEST_F(ScreenshotTest, TheMainPanelGivesTheFrameTheScreensSpaceAndFitsASmallScreen) {
    const Layout main(PELU_DBG_UIR, "MAIN");
    int imageHeight[2] = {0, 0};
    int i = 0;
    for (Screen screen : {kLaptop, kDesk}) {
        SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height));
        const QImage shot = Run(PELU_DBG_PROGRAM, kOneFrame, "main.png", screen);
        ASSERT_FALSE(shot.isNull());
        const int bar = MenuBarHeight(shot, main.Control("PICTURE", shot, 0));
        EXPECT_GT(bar, 10);
        EXPECT_LT(bar, 40);
        ExpectWholeWindowOnScreen(shot, screen, main, bar);
        // The frame is drawn in greys, fitted to the picture's view: square
        // pixels of a square frame make a square image as high as the view.
        const Rect picture = main.Control("PICTURE", shot, bar);
        const Rect image = ImageOnScreen(shot, ViewOf(picture));
        EXPECT_GT(GreyLevels(shot, Inner(image, 10)), 64u);
        EXPECT_NEAR(image.width, image.height, 3);
        EXPECT_GT(image.height, ViewOf(picture).height - 4);  // the view's whole height
        imageHeight[i++] = image.height;
        // Beside it the colour bar runs through the grey ramp.
        const Rect colourBar{picture.right() - kColourBar + 8, ViewOf(picture).top + 12, 10,
                             ViewOf(picture).height - 24};
        EXPECT_GT(GreyLevels(shot, colourBar), 200u);
        // The histogram's bars are blue.
        EXPECT_GT(CountPixels(shot, Inner(main.Control("GRAPH", shot, bar), 30), Blue), 200);
    }
    // The larger screen's extra height went to the image.
    EXPECT_GT(imageHeight[1], imageHeight[0] + 250);
    EXPECT_GT(imageHeight[0], 400);
}

TEST_F(ScreenshotTest, TheSliceViewKeepsThePixelAspect) {
    const Layout main(PELU_DBG_UIR, "MAIN");
    // A stored series of 24 frames of 64 x 192: its slice is 24 frames wide
    // and 192 rows high. Each sample tells its frame and row.
    WriteFits(folder / "series.fts", 64, 192, 24,
              [](int x, int y, int f) { return 2000 + 40 * f + 3 * y + (x % 5); });
    for (Screen screen : {kLaptop, kDesk}) {
        SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height));
        const QImage shot = Run(PELU_DBG_PROGRAM,
                                "answer file " + (folder / "series.fts").string() +
                                    "\ncommit MAIN.OPEN\nexpect value MAIN.FILE_NAXIS3 24\n"
                                    "set MAIN.FRAME 10\ncommit MAIN.FRAME\n"
                                    "set MAIN.VIEW 1\ncommit MAIN.VIEW\n"
                                    "screenshot slice.png\nquit\n",
                                "slice.png", screen);
        ASSERT_FALSE(shot.isNull());
        const int bar = MenuBarHeight(shot, main.Control("PICTURE", shot, 0));
        ExpectWholeWindowOnScreen(shot, screen, main, bar);
        // A tall strip, eight times higher than wide, filling the view's height.
        const Rect picture = main.Control("PICTURE", shot, bar);
        const Rect image = ImageOnScreen(shot, ViewOf(picture));
        EXPECT_GT(image.height, ViewOf(picture).height - 4);
        EXPECT_NEAR(double(image.height) / image.width, 192.0 / 24.0, 0.4);
        EXPECT_GT(GreyLevels(shot, Inner(image, 2)), 32u);
        // Frames run left to right, brighter with each.
        const int y = image.top + image.height / 2;
        EXPECT_LT(shot.pixelColor(image.left + 2, y).red(),
                  shot.pixelColor(image.right() - 3, y).red());
    }
}

TEST_F(ScreenshotTest, AnOpenedFileIsShownWholeInItsAspect) {
    const Layout main(PELU_DBG_UIR, "MAIN");
    // 400 x 100, a ramp along x: a flat, wide image. One dark pixel in its
    // middle keeps the ramp's ends off the black end of the scale.
    WriteFits(folder / "ramp.fts", 400, 100, 1,
              [](int x, int y, int) { return x == 200 && y == 50 ? 0 : 1000 + 10 * x + (y % 7); });
    for (Screen screen : {kLaptop, kDesk}) {
        SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height));
        const QImage shot = Run(PELU_DBG_PROGRAM,
                                "answer file " + (folder / "ramp.fts").string() +
                                    "\ncommit MAIN.OPEN\nexpect value MAIN.FILE_NAXIS1 400\n"
                                    "screenshot file.png\nquit\n",
                                "file.png", screen);
        ASSERT_FALSE(shot.isNull());
        const int bar = MenuBarHeight(shot, main.Control("PICTURE", shot, 0));
        ExpectWholeWindowOnScreen(shot, screen, main, bar);
        const Rect picture = main.Control("PICTURE", shot, bar);
        const Rect image = ImageOnScreen(shot, ViewOf(picture));
        // As wide as the view, four times as wide as high.
        EXPECT_GT(image.width, ViewOf(picture).width - 4);
        EXPECT_NEAR(double(image.width) / image.height, 4.0, 0.1);
        // The ramp runs dark to light from left to right.
        const int y = image.top + image.height / 2;
        EXPECT_LT(shot.pixelColor(image.left + 5, y).red(),
                  shot.pixelColor(image.right() - 5, y).red());
        // Its size is in the file fields.
        EXPECT_GT(CountPixels(shot, Inner(main.Control("FILE_NAXIS1", shot, bar), 4), Dark), 10);
    }
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
    // Its window fills the screen too, the picture taking the space.
    const Layout main(PELU_UIR, "MAIN");
    const int bar = MenuBarHeight(shot, main.Control("PICTURE", shot, 0));  // it has none
    EXPECT_EQ(bar, 0);
    const Rect picture = main.Control("PICTURE", shot, bar);
    EXPECT_GT(ImageOnScreen(shot, ViewOf(picture)).height, ViewOf(picture).height - 4);
    EXPECT_GT(GreyLevels(shot, Inner(ViewOf(picture), 40)), 64u);
    EXPECT_GT(CountPixels(shot, Inner(main.Control("GRAPH", shot, bar), 30), Blue), 200);
}

TEST_F(ScreenshotTest, WavelengthEditorShowsTheTableOfWvIni) {
    const Layout panel(LINTAB_UIR, "PANEL");
    for (Screen screen : {kLaptop, kDesk}) {
        SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height));
        const QImage shot =
            Run(LINTAB_PROGRAM, "commit PANEL.RELOADBTN\nscreenshot table.png\nquit\n", "table.png",
                screen);
        ASSERT_FALSE(shot.isNull());
        // The window opens at its design size, which both screens hold.
        EXPECT_EQ(shot.width(), panel.Width());
        EXPECT_EQ(shot.height(), panel.Height());
        // Reload shows the site's Wv.ini: digits, dark text, in the first
        // rows below the column titles, in the wavelength and the angle column.
        const Rect table = panel.Control("WVTABLE", shot, 0);
        const Rect wavelengths{table.left + 30, table.top + 30, 120, 50};
        const Rect angles{table.left + 250, table.top + 30, 120, 50};
        EXPECT_GT(CountPixels(shot, wavelengths, Dark), 60);
        EXPECT_GT(CountPixels(shot, angles, Dark), 60);

        // Without a Wv.ini, Reload says so and the table shows no digits there.
        fs::remove(folder / "Wv.ini");
        const QImage empty =
            Run(LINTAB_PROGRAM, "commit PANEL.RELOADBTN\nscreenshot empty.png\nquit\n", "empty.png",
                screen);
        ASSERT_FALSE(empty.isNull());
        EXPECT_LT(CountPixels(empty, wavelengths, Dark), CountPixels(shot, wavelengths, Dark) / 4);
        fs::copy_file(fs::path(PELU_SITE_DIR) / "Wv.ini", folder / "Wv.ini");
    }
}

}  // namespace
