#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ui/runtime_internal.h"
#include "tests/platform/ui/ui_fixture.h"

namespace ui::testing {
namespace {

using namespace std::chrono_literals;

const char* kPanels = R"({
  "status_box": "MAIN.STATUS",
  "panels": [
    { "resource": 1, "name": "MAIN", "title": "Main", "width": 800, "height": 600,
      "callback": "onPanel",
      "controls": [
        { "id": 2, "name": "RUN", "type": "command", "label": "Run", "left": 10, "top": 10,
          "width": 80, "height": 24, "callback": "onControl" },
        { "id": 3, "name": "STOP", "type": "command", "label": "Stop", "left": 100, "top": 10,
          "width": 80, "height": 24, "callback": "onControl" },
        { "id": 4, "name": "EXPOSURE", "type": "numeric", "data_type": "double", "value": 0.5,
          "min": 0, "max": 100, "left": 10, "top": 40, "width": 80, "height": 24 },
        { "id": 5, "name": "FRAMES", "type": "numeric", "data_type": "int", "value": 10,
          "left": 10, "top": 70, "width": 80, "height": 24 },
        { "id": 6, "name": "STATUS", "type": "textbox", "left": 200, "top": 40, "width": 300,
          "height": 200 },
        { "id": 7, "name": "CAMERA", "type": "ring", "index": 1, "left": 10, "top": 100,
          "width": 120, "height": 24, "callback": "onControl",
          "items": [ {"label": "CCD 1", "value": 0}, {"label": "CCD 2", "value": 1},
                     {"label": "Both CCDs", "value": 2} ] },
        { "id": 8, "name": "TOGGLE", "type": "toggle", "on_text": "CCD On", "off_text": "CCD Off",
          "left": 10, "top": 130, "width": 80, "height": 24 },
        { "id": 9, "name": "NAME", "type": "string", "value": "sunspot", "left": 10, "top": 160,
          "width": 80, "height": 24 },
        { "id": 10, "name": "TIMER", "type": "timer", "interval": 0.5, "enabled": false,
          "callback": "onControl" },
        { "id": 11, "name": "VIEW", "type": "tree", "left": 10, "top": 190, "width": 100,
          "height": 40, "items": [ {"label": "Frame", "value": 0}, {"label": "Slice", "value": 1} ] },
        { "id": 12, "name": "TABLE", "type": "table", "rows": 2, "left": 10, "top": 240,
          "width": 300, "height": 100,
          "columns": [ {"label": "Wavelength", "type": "double"}, {"label": "Order", "type": "int"},
                       {"label": "Note", "type": "text"} ] },
        { "id": 13, "name": "PICTURE", "type": "picture", "left": 320, "top": 240, "width": 64,
          "height": 64 },
        { "id": 14, "name": "GRAPH", "type": "graph", "left": 400, "top": 240, "width": 200,
          "height": 100 },
        { "id": 15, "name": "TABS", "type": "tab", "left": 10, "top": 350, "width": 300,
          "height": 200,
          "pages": [ { "name": "CAMERA_PAGE", "label": "Camera",
                       "controls": [ { "id": 2, "name": "GAIN", "type": "numeric",
                                       "data_type": "int", "left": 5, "top": 5, "width": 60,
                                       "height": 20 } ] },
                     { "name": "SCANNER_PAGE", "label": "Scanner" } ] }
      ] }
  ],
  "menubars": [
    { "resource": 1, "name": "MENUBAR",
      "menus": [ { "id": 1, "name": "FILE", "label": "File",
                   "items": [ { "id": 2, "name": "OPEN", "label": "Open", "callback": "onMenu" },
                              { "separator": true },
                              { "id": 3, "name": "EXIT", "label": "Exit", "callback": "onMenu" } ] } ] }
  ]
})";

// What the callbacks saw, shared with the test body.
struct Seen {
    std::mutex mutex;
    std::vector<std::pair<int, int>> events;  // (control, event)
    std::vector<std::thread::id> threads;
    std::vector<int> menuItems;
    void Add(int control, int event) {
        std::lock_guard lock(mutex);
        events.emplace_back(control, event);
        threads.push_back(std::this_thread::get_id());
    }
    size_t Count(int control, int event) {
        std::lock_guard lock(mutex);
        return std::count(events.begin(), events.end(), std::make_pair(control, event));
    }
};
Seen* seen = nullptr;

int onControl(int, int control, int event, void*, int, int) {
    seen->Add(control, event);
    return 0;
}
int onPanel(int, int, int event, void*, int, int) {
    seen->Add(0, event);
    return 0;
}
void onMenu(int, int item, void*, int) {
    std::lock_guard lock(seen->mutex);
    seen->menuItems.push_back(item);
}

class RuntimeCoreTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        seen = &seenStore;
        RegisterCallback("onControl", onControl);
        RegisterCallback("onPanel", onPanel);
        RegisterMenuCallback("onMenu", onMenu);
        path = WriteResource(kPanels);
        panel = LoadPanel(0, path, 1);
        ASSERT_GT(panel, 0) << LastLoadError();
    }
    Seen seenStore;
    std::string path;
    int panel = 0;
};

TEST_F(RuntimeCoreTest, ValuesRoundTripAndConvertWithinTheirKind) {
    double exposure = 0;
    ASSERT_EQ(GetCtrlVal(panel, 4, &exposure), 0);
    EXPECT_DOUBLE_EQ(exposure, 0.5);

    EXPECT_EQ(SetCtrlVal(panel, 4, 2.25), 0);
    float asFloat = 0;
    GetCtrlVal(panel, 4, &asFloat);
    EXPECT_FLOAT_EQ(asFloat, 2.25f);
    // A numeric with a range takes only values inside it.
    SetCtrlVal(panel, 4, 1000.0);
    GetCtrlVal(panel, 4, &exposure);
    EXPECT_DOUBLE_EQ(exposure, 100.0);

    // Integer fields round doubles; texts never go into numbers.
    SetCtrlVal(panel, 5, 7.6);
    int frames = 0;
    GetCtrlVal(panel, 5, &frames);
    EXPECT_EQ(frames, 8);
    EXPECT_EQ(SetCtrlVal(panel, 5, "12"), UIE_TYPE_MISMATCH);
    std::string text;
    EXPECT_EQ(GetCtrlVal(panel, 5, &text), UIE_TYPE_MISMATCH);

    // Texts, with a bounded copy for C-style buffers.
    GetCtrlVal(panel, 9, &text);
    EXPECT_EQ(text, "sunspot");
    char small[4];
    ASSERT_EQ(GetCtrlVal(panel, 9, small, sizeof small), 0);
    EXPECT_STREQ(small, "sun");

    // Toggles hold 0 or 1.
    SetCtrlVal(panel, 8, 5);
    int on = 0;
    GetCtrlVal(panel, 8, &on);
    EXPECT_EQ(on, 1);

    // Unknown panels and controls are errors, not crashes.
    EXPECT_EQ(SetCtrlVal(panel + 100, 4, 1.0), UIE_BAD_PANEL_HANDLE);
    EXPECT_EQ(SetCtrlVal(panel, 99, 1.0), UIE_BAD_CONTROL_ID);

    // DefaultCtrl restores the resource's value.
    DefaultCtrl(panel, 4);
    GetCtrlVal(panel, 4, &exposure);
    EXPECT_DOUBLE_EQ(exposure, 0.5);
}

TEST_F(RuntimeCoreTest, TextBoxAppendsAndResets) {
    SetCtrlVal(panel, 6, "Set Current Camera 1\n");
    SetCtrlVal(panel, 6, "\nCamera1 is Opening");
    SetCtrlVal(panel, 6, std::string(" done\n"));
    std::string text;
    GetCtrlVal(panel, 6, &text);
    EXPECT_EQ(text, "Set Current Camera 1\n\nCamera1 is Opening done\n");
    ResetTextBox(panel, 6, "");
    GetCtrlVal(panel, 6, &text);
    EXPECT_EQ(text, "");
}

TEST_F(RuntimeCoreTest, TextBoxKeepsTheLatestMegabyteOnWholeLines) {
    std::string line(99, 'x');
    line += '\n';
    for (int i = 0; i < 12000; ++i) SetCtrlVal(panel, 6, line);
    SetCtrlVal(panel, 6, "last line\n");
    std::string text;
    GetCtrlVal(panel, 6, &text);
    EXPECT_LE(text.size(), size_t(1 << 20));
    EXPECT_EQ(text.substr(0, 100), line);  // trimmed at a line start
    EXPECT_EQ(text.substr(text.size() - 10), "last line\n");
}

TEST_F(RuntimeCoreTest, WarningsInATextBoxAreMarkedAndFollowTheTrimmedText) {
    SetCtrlVal(panel, 6, "Camera1 Open Complete!!\n");
    AppendWarningText(panel, 6, "\n2 of 5 frames were taken after the stage had left\n");
    AppendWarningText(panel, 6, "FITS file x.fts not written\n");  // joins the warning before
    SetCtrlVal(panel, 6, "Scanning is finished.\n");
    std::vector<std::string> warnings;
    ASSERT_EQ(GetTextBoxWarnings(panel, 6, &warnings), 0);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0],
              "\n2 of 5 frames were taken after the stage had left\nFITS file x.fts not written\n");
    std::string text;
    GetCtrlVal(panel, 6, &text);
    EXPECT_EQ(text.find("Scanning is finished."), text.size() - 22) << "a warning is text too";
    EXPECT_EQ(AppendWarningText(panel, 2, "x"), UIE_TYPE_MISMATCH);

    // Trimming drops the warnings that fall off the front and keeps the later
    // ones on their own text.
    const std::string line = std::string(99, 'x') + "\n";
    for (int i = 0; i < 11000; ++i) SetCtrlVal(panel, 6, line);
    AppendWarningText(panel, 6, "The camera was not switched on\n");
    for (int i = 0; i < 100; ++i) SetCtrlVal(panel, 6, line);
    GetTextBoxWarnings(panel, 6, &warnings);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "The camera was not switched on\n");
    ResetTextBox(panel, 6, "");
    GetTextBoxWarnings(panel, 6, &warnings);
    EXPECT_TRUE(warnings.empty());
}

TEST_F(RuntimeCoreTest, AttributesRoundTripAndRangesCoerceTheValue) {
    SetCtrlAttribute(panel, 2, ATTR_DIMMED, 1);
    SetCtrlAttribute(panel, 2, ATTR_LABEL_TEXT, std::string("Run now"));
    int dimmed = 0;
    std::string label;
    GetCtrlAttribute(panel, 2, ATTR_DIMMED, &dimmed);
    GetCtrlAttribute(panel, 2, ATTR_LABEL_TEXT, &label);
    EXPECT_EQ(dimmed, 1);
    EXPECT_EQ(label, "Run now");

    SetCtrlVal(panel, 5, 50);
    SetCtrlAttribute(panel, 5, ATTR_MIN_VALUE, 0);
    SetCtrlAttribute(panel, 5, ATTR_MAX_VALUE, 9);
    int frames = 0, max = 0;
    GetCtrlVal(panel, 5, &frames);
    GetCtrlAttribute(panel, 5, ATTR_MAX_VALUE, &max);
    EXPECT_EQ(frames, 9);
    EXPECT_EQ(max, 9);
    EXPECT_EQ(SetCtrlAttribute(panel, 2, ATTR_MAX_VALUE, 3), UIE_BAD_ATTRIBUTE);

    SetCtrlAttribute(panel, 13, ATTR_WIDTH, 1024);
    int top, left, height, width;
    GetCtrlBoundingRect(panel, 13, &top, &left, &height, &width);
    EXPECT_EQ(std::make_tuple(top, left, height, width), std::make_tuple(240, 320, 64, 1024));
}

TEST_F(RuntimeCoreTest, PanelsSizeCentreShowAndHide) {
    SetPanelSize(panel, 700, 1312);
    SetPanelAttribute(panel, ATTR_LEFT, VAL_AUTO_CENTER);
    SetPanelAttribute(panel, ATTR_TOP, VAL_AUTO_CENTER);
    int width, left, top;
    GetPanelAttribute(panel, ATTR_WIDTH, &width);
    GetPanelAttribute(panel, ATTR_LEFT, &left);
    GetPanelAttribute(panel, ATTR_TOP, &top);
    EXPECT_EQ(width, 1312);
    EXPECT_EQ(left, (1920 - 1312) / 2);  // headless screen is 1920 x 1080
    EXPECT_EQ(top, (1080 - 700) / 2);

    int visible = 1;
    GetPanelAttribute(panel, ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 0);
    DisplayPanel(panel);
    GetPanelAttribute(panel, ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 1);
    EXPECT_EQ(detail::FirstDisplayedPanel(), panel);
    HidePanel(panel);
    GetPanelAttribute(panel, ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 0);

    // Loading the same resource twice gives two independent panels.
    int second = LoadPanel(0, path, 1);
    ASSERT_GT(second, 0);
    EXPECT_NE(second, panel);
    SetCtrlVal(second, 5, 3);
    int frames = 0;
    GetCtrlVal(panel, 5, &frames);
    EXPECT_EQ(frames, 10);

    EXPECT_EQ(DiscardPanel(second), 0);
    EXPECT_EQ(SetCtrlVal(second, 5, 3), UIE_BAD_PANEL_HANDLE);
    EXPECT_EQ(FindPanel("MAIN"), panel);
    EXPECT_EQ(FindControl(panel, "STATUS"), 6);
    int statusPanel = 0, statusControl = 0;
    ASSERT_EQ(GetStatusBox(&statusPanel, &statusControl), 0);
    EXPECT_EQ(statusPanel, panel);
    EXPECT_EQ(statusControl, 6);
}

TEST_F(RuntimeCoreTest, RingsSelectByValueAndIndexAndKeepSelectionOnEdits) {
    int value = -1, index = -1;
    GetCtrlVal(panel, 7, &value);
    EXPECT_EQ(value, 1);  // default index 1
    SetCtrlVal(panel, 7, 2);
    GetCtrlIndex(panel, 7, &index);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(SetCtrlVal(panel, 7, 9), UIE_BAD_ARGUMENT);  // no item with value 9
    EXPECT_EQ(SetCtrlIndex(panel, 7, 3), UIE_INDEX_OUT_OF_RANGE);

    InsertListItem(panel, 7, 0, "Flat Fielding", 4);
    GetCtrlIndex(panel, 7, &index);
    EXPECT_EQ(index, 3);  // the same item stays selected
    DeleteListItem(panel, 7, 0, 2);
    GetCtrlVal(panel, 7, &value);
    EXPECT_EQ(value, 2);
    int count = 0;
    GetNumListItems(panel, 7, &count);
    EXPECT_EQ(count, 2);
    DefaultCtrl(panel, 7);
    GetCtrlIndex(panel, 7, &index);
    EXPECT_EQ(index, 1);
    ClearListCtrl(panel, 7);
    GetCtrlIndex(panel, 7, &index);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(GetCtrlVal(panel, 7, &value), UIE_INDEX_OUT_OF_RANGE);
}

TEST_F(RuntimeCoreTest, TreeBecomesARadioGroupWithOneMarkedOption) {
    int marked = -1;
    EXPECT_EQ(GetMarkedOption(panel, 11, &marked), UIE_TYPE_MISMATCH);
    ASSERT_EQ(ConvertTreeToRadioGroup(panel, 11), 0);
    GetMarkedOption(panel, 11, &marked);
    EXPECT_EQ(marked, 0);
    MarkOption(panel, 11, 1);
    int value = 0;
    GetCtrlVal(panel, 11, &value);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(MarkOption(panel, 11, 2), UIE_INDEX_OUT_OF_RANGE);
}

TEST_F(RuntimeCoreTest, TableCellsAreTypedByColumn) {
    ASSERT_EQ(InsertTableRows(panel, 12, -1, 1), 0);
    int rows = 0;
    GetCtrlAttribute(panel, 12, ATTR_NUM_ROWS, &rows);
    EXPECT_EQ(rows, 3);
    SetTableCellVal(panel, 12, MakePoint(1, 3), 6562.8);
    SetTableCellVal(panel, 12, MakePoint(2, 3), 34.0);
    SetTableCellVal(panel, 12, MakePoint(3, 3), std::string("H alpha"));
    float wavelength = 0;
    int order = 0;
    std::string note;
    GetTableCellVal(panel, 12, MakePoint(1, 3), &wavelength);
    GetTableCellVal(panel, 12, MakePoint(2, 3), &order);
    GetTableCellVal(panel, 12, MakePoint(3, 3), &note);
    EXPECT_FLOAT_EQ(wavelength, 6562.8f);
    EXPECT_EQ(order, 34);
    EXPECT_EQ(note, "H alpha");
    EXPECT_EQ(SetTableCellVal(panel, 12, MakePoint(2, 3), std::string("x")), UIE_TYPE_MISMATCH);
    EXPECT_EQ(SetTableCellVal(panel, 12, MakePoint(4, 1), 1), UIE_INDEX_OUT_OF_RANGE);
    EXPECT_EQ(SetTableCellVal(panel, 12, MakePoint(1, 4), 1), UIE_INDEX_OUT_OF_RANGE);

    SetActiveTableCell(panel, 12, MakePoint(2, 3));
    Point active;
    GetActiveTableCell(panel, 12, &active);
    EXPECT_EQ(active.x, 2);
    EXPECT_EQ(active.y, 3);

    DeleteTableRows(panel, 12, 1, -1);
    GetCtrlAttribute(panel, 12, ATTR_NUM_ROWS, &rows);
    EXPECT_EQ(rows, 0);
}

TEST_F(RuntimeCoreTest, TabPagesArePanelsAndCanBeDimmed) {
    int camera = 0, scanner = 0;
    ASSERT_EQ(GetPanelHandleFromTabPage(panel, 15, 0, &camera), 0);
    ASSERT_EQ(GetPanelHandleFromTabPage(panel, 15, 1, &scanner), 0);
    EXPECT_NE(camera, scanner);
    EXPECT_EQ(FindPanel("CAMERA_PAGE"), camera);
    EXPECT_EQ(SetCtrlVal(camera, 2, 300), 0);
    int gain = 0;
    GetCtrlVal(camera, 2, &gain);
    EXPECT_EQ(gain, 300);
    SetTabPageAttribute(panel, 15, 1, ATTR_DIMMED, 1);
    int dimmed = 0;
    GetTabPageAttribute(panel, 15, 1, ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 1);
    EXPECT_EQ(GetPanelHandleFromTabPage(panel, 15, 2, &camera), UIE_INDEX_OUT_OF_RANGE);
    // Discarding the panel discards its pages.
    DiscardPanel(panel);
    EXPECT_EQ(SetCtrlVal(scanner, 2, 1), UIE_BAD_PANEL_HANDLE);
}

TEST_F(RuntimeCoreTest, PicturesKeepTheirOwnCopyOfABitmap) {
    std::vector<int> grey(256);
    for (int i = 0; i < 256; ++i) grey[i] = i * 0x010101;
    // Three rows of two pixels in rows of four bytes (padding is skipped).
    unsigned char bits[12] = {1, 2, 99, 99, 3, 4, 99, 99, 5, 6, 99, 99};
    int bitmap = 0;
    ASSERT_EQ(NewBitmap(4, 8, 2, 3, grey.data(), bits, &bitmap), 0);
    ASSERT_EQ(SetCtrlBitmap(panel, 13, 0, bitmap), 0);
    DiscardBitmap(bitmap);
    bits[0] = 200;
    PictureImage shown;
    ASSERT_EQ(GetCtrlPicture(panel, 13, &shown), 0);
    EXPECT_EQ(shown.width, 2);
    EXPECT_EQ(shown.height, 3);
    EXPECT_EQ(shown.pixels, (std::vector<unsigned char>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(shown.palette[255], 0xFFFFFF);
    EXPECT_EQ(SetCtrlBitmap(panel, 13, 0, bitmap), UIE_BAD_BITMAP);  // discarded
    // Nonsense sizes are refused instead of read past the caller's buffer.
    EXPECT_EQ(NewBitmap(1, 8, 2, 3, grey.data(), bits, &bitmap), UIE_BAD_ARGUMENT);
    EXPECT_EQ(NewBitmap(2, 16, 2, 3, grey.data(), bits, &bitmap), UIE_BAD_ARGUMENT);
    EXPECT_EQ(NewBitmap(2, 8, -2, 3, grey.data(), bits, &bitmap), UIE_BAD_ARGUMENT);
    EXPECT_EQ(NewBitmap(100000, 8, 100000, 100000, grey.data(), bits, &bitmap), UIE_BAD_ARGUMENT);
}

TEST_F(RuntimeCoreTest, APictureKeepsItsViewChoicesAndTheValuesOfItsPalettesEnds) {
    double value = -1;
    EXPECT_EQ(GetCtrlAttribute(panel, 13, ATTR_PICTURE_ZOOM, &value), 0);
    EXPECT_EQ(value, 0);  // fits by default
    EXPECT_EQ(SetCtrlAttribute(panel, 13, ATTR_PICTURE_ZOOM, 4.0), 0);
    EXPECT_EQ(SetCtrlAttribute(panel, 13, ATTR_PICTURE_ZOOM, -1.0), UIE_BAD_ARGUMENT);
    GetCtrlAttribute(panel, 13, ATTR_PICTURE_ZOOM, &value);
    EXPECT_EQ(value, 4);
    EXPECT_EQ(SetCtrlAttribute(panel, 13, ATTR_PICTURE_PALETTE, VAL_PALETTE_PERCEPTUAL), 0);
    EXPECT_EQ(SetCtrlAttribute(panel, 13, ATTR_PICTURE_PALETTE, 7), UIE_BAD_ARGUMENT);
    EXPECT_EQ(SetCtrlAttribute(panel, 13, ATTR_SCALE_LOW, 1200.0), 0);
    EXPECT_EQ(SetCtrlAttribute(panel, 13, ATTR_SCALE_HIGH, 3400.0), 0);
    GetCtrlAttribute(panel, 13, ATTR_SCALE_HIGH, &value);
    EXPECT_EQ(value, 3400);
    // Only pictures have these.
    EXPECT_EQ(SetCtrlAttribute(panel, 2, ATTR_PICTURE_ZOOM, 1.0), UIE_BAD_ATTRIBUTE);
}

TEST(ShownPalette, GreyInvertedAndPerceptual) {
    PictureImage image;
    image.palette.resize(256);
    for (int i = 0; i < 256; ++i) image.palette[size_t(i)] = i * 0x010101;
    EXPECT_EQ(ShownPalette(image, VAL_PALETTE_BITMAP), image.palette);
    const std::vector<int> inverted = ShownPalette(image, VAL_PALETTE_INVERTED);
    EXPECT_EQ(inverted[0], 0xFFFFFF);
    EXPECT_EQ(inverted[200], 55 * 0x010101);
    // The perceptual map runs from dark violet-blue to yellow, its
    // lightness (roughly the green channel here) rising all the way.
    const std::vector<int> map = ShownPalette(image, VAL_PALETTE_PERCEPTUAL);
    auto channel = [](int rgb, int shift) { return (rgb >> shift) & 0xFF; };
    EXPECT_LT(channel(map[0], 8), 20);
    EXPECT_GT(channel(map[0], 0), channel(map[0], 16));  // blue above red at the dark end
    EXPECT_GT(channel(map[255], 16), 230);               // yellow at the bright end
    EXPECT_GT(channel(map[255], 8), 200);
    EXPECT_LT(channel(map[255], 0), 80);
    for (int i = 1; i < 256; ++i)
        ASSERT_GE(channel(map[size_t(i)], 8), channel(map[size_t(i - 1)], 8)) << i;
}

TEST_F(RuntimeCoreTest, GraphPlotsAreAddressedByHandle) {
    std::vector<double> x = {1, 2, 3}, y = {10, 20, 30};
    int bars = PlotXY(panel, 14, x, y, VAL_VERTICAL_BAR, VAL_BLUE);
    int line = PlotY(panel, 14, y, VAL_THIN_LINE, VAL_GREEN);
    ASSERT_GT(bars, 0);
    ASSERT_GT(line, 0);
    EXPECT_NE(bars, line);
    std::vector<Plot> plots;
    GetGraphPlots(panel, 14, &plots);
    ASSERT_EQ(plots.size(), 2u);
    EXPECT_EQ(plots[1].x, (std::vector<double>{0, 1, 2}));
    EXPECT_EQ(plots[0].color, VAL_BLUE);
    DeleteGraphPlot(panel, 14, bars);
    GetGraphPlots(panel, 14, &plots);
    ASSERT_EQ(plots.size(), 1u);
    EXPECT_EQ(plots[0].handle, line);
    EXPECT_EQ(DeleteGraphPlot(panel, 14, bars), UIE_BAD_ARGUMENT);
    DeleteGraphPlot(panel, 14, -1);
    GetGraphPlots(panel, 14, &plots);
    EXPECT_TRUE(plots.empty());
    EXPECT_EQ(PlotXY(panel, 14, x, std::vector<double>{1}, VAL_THIN_LINE, VAL_RED), UIE_BAD_ARGUMENT);
}

TEST_F(RuntimeCoreTest, CallbacksRunOnTheDispatchThreadWhateverThreadPostsOrSets) {
    StartLoop();
    std::thread::id dispatch = loop.get_id();
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) SetCtrlVal(panel, 5, i);
        PostEvent(panel, 2, EVENT_COMMIT);
    });
    worker.join();
    PostEvent(panel, 3, EVENT_COMMIT);
    PostEvent(panel, 0, EVENT_CLOSE);
    ASSERT_TRUE(Eventually([&] { return seen->Count(0, EVENT_CLOSE) == 1; }));
    std::lock_guard lock(seen->mutex);
    ASSERT_EQ(seen->events.size(), 3u);
    EXPECT_EQ(seen->events[0], std::make_pair(2, EVENT_COMMIT));  // order kept
    EXPECT_EQ(seen->events[1], std::make_pair(3, EVENT_COMMIT));
    for (auto id : seen->threads) EXPECT_EQ(id, dispatch);
    int frames = 0;
    GetCtrlVal(panel, 5, &frames);
    EXPECT_EQ(frames, 199);
}

TEST_F(RuntimeCoreTest, MenuChoicesRunTheirCallbacks) {
    StartLoop();
    int bar = LoadMenuBar(panel, path, 1);
    ASSERT_GT(bar, 0) << LastLoadError();
    EXPECT_EQ(FindMenuItem(bar, "EXIT"), 3);
    SetMenuBarAttribute(bar, 2, ATTR_DIMMED, 1);
    int dimmed = 0;
    GetMenuBarAttribute(bar, 2, ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 1);
    EXPECT_EQ(SetMenuBarAttribute(bar, 42, ATTR_DIMMED, 1), UIE_BAD_ITEM);
    PostMenuEvent(bar, 3);
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard lock(seen->mutex);
        return seen->menuItems == std::vector<int>{3};
    }));
}

// The callback of RUN waits for the user, as the run sequencer does between
// repetitions: other callbacks keep running meanwhile.
std::atomic<int> userEventControl{-1};
int waitForUser(int, int control, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    seen->Add(control, event);
    int p = 0, c = 0;
    userEventControl = GetUserEvent(1, &p, &c) == EVENT_COMMIT ? c : 0;
    return 0;
}

TEST_F(RuntimeCoreTest, UserEventWaitReturnsTheNextCommitWhileCallbacksRun) {
    RegisterCallback("waitForUser", waitForUser);
    std::string json = kPanels;
    json.replace(json.find("\"callback\": \"onControl\""), 23, "\"callback\": \"waitForUser\"");
    int p = LoadPanel(0, WriteResource(json), 1);
    ASSERT_GT(p, 0) << LastLoadError();
    StartLoop();
    PostEvent(p, 2, EVENT_COMMIT);                 // starts waiting
    PostEvent(p, 0, EVENT_CLOSE);                  // not a commit: the wait goes on
    PostEvent(p, 7, EVENT_VAL_CHANGED);            // neither
    ASSERT_TRUE(Eventually([&] { return seen->Count(7, EVENT_VAL_CHANGED) == 1; }));
    EXPECT_EQ(userEventControl.load(), -1);
    PostEvent(p, 3, EVENT_COMMIT);                 // the Stop button
    ASSERT_TRUE(Eventually([&] { return userEventControl.load() == 3; }));
    EXPECT_EQ(seen->Count(3, EVENT_COMMIT), 1u);   // its own callback ran too
    EXPECT_EQ(seen->Count(0, EVENT_CLOSE), 1u);
}

TEST_F(RuntimeCoreTest, UserEventWaitWithoutWaitingReturnsAtOnce) {
    int p = 0, c = 0;
    EXPECT_EQ(GetUserEvent(0, &p, &c), EVENT_NONE);
    PostEvent(panel, 2, EVENT_COMMIT);
    EXPECT_EQ(GetUserEvent(0, &p, &c), EVENT_COMMIT);
    EXPECT_EQ(c, 2);
}

// The callback of RUN starts a thread function and waits for it, as the live
// view and the monitoring loop do.
std::atomic<bool> stopWorker{false};
std::atomic<int> workerResult{0};
int startWorkerAndWait(int, int control, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    seen->Add(control, event);
    int id = 0;
    ScheduleThreadFunction(
        [] {
            while (!stopWorker) std::this_thread::sleep_for(1ms);
            return 42;
        },
        &id);
    WaitForThreadFunctionCompletion(id);
    int result = 0;
    GetThreadFunctionReturnValue(id, &result);
    workerResult = result;
    ReleaseThreadFunctionID(id);
    return 0;
}
int stopTheWorker(int, int control, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    seen->Add(control, event);
    stopWorker = true;
    return 0;
}

TEST_F(RuntimeCoreTest, ThreadFunctionWaitKeepsDispatchingCallbacks) {
    stopWorker = false;
    workerResult = 0;
    RegisterCallback("start", startWorkerAndWait);
    RegisterCallback("stop", stopTheWorker);
    std::string json = kPanels;
    json.replace(json.find("\"callback\": \"onControl\""), 23, "\"callback\": \"start\"");
    json.replace(json.find("\"callback\": \"onControl\""), 23, "\"callback\": \"stop\"");
    int p = LoadPanel(0, WriteResource(json), 1);
    ASSERT_GT(p, 0) << LastLoadError();
    StartLoop();
    uint64_t seq = detail::PostEventNumbered(p, 2, EVENT_COMMIT, 0, 0);
    // The dispatcher goes idle inside the wait: a script may go on.
    ASSERT_TRUE(detail::WaitUntilHandled(seq, 5s));
    EXPECT_EQ(workerResult.load(), 0);
    PostEvent(p, 3, EVENT_COMMIT);  // handled although RUN's callback has not returned
    ASSERT_TRUE(Eventually([&] { return workerResult.load() == 42; }));
}

TEST_F(RuntimeCoreTest, ThreadFunctionWaitOffTheDispatchThreadJustWaits) {
    int id = 0;
    ASSERT_EQ(ScheduleThreadFunction([] { return 7; }, &id), 0);
    EXPECT_EQ(WaitForThreadFunctionCompletion(id), 0);
    int result = 0;
    GetThreadFunctionReturnValue(id, &result);
    EXPECT_EQ(result, 7);
    EXPECT_EQ(ReleaseThreadFunctionID(id), 0);
    EXPECT_EQ(ReleaseThreadFunctionID(id), UIE_BAD_THREAD_FUNCTION_ID);
    EXPECT_EQ(WaitForThreadFunctionCompletion(id), UIE_BAD_THREAD_FUNCTION_ID);
}

TEST_F(RuntimeCoreTest, TimersTickWhileEnabledAndOnlyThen) {
    StartLoop();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(seen->Count(10, EVENT_TIMER_TICK), 0u);  // loaded disabled
    // 0.5 s of instrument time at the tests' scale of 0.01: a tick every 5 ms.
    SetCtrlAttribute(panel, 10, ATTR_ENABLED, 1);
    ASSERT_TRUE(Eventually([&] { return seen->Count(10, EVENT_TIMER_TICK) >= 3; }));
    SetCtrlAttribute(panel, 10, ATTR_ENABLED, 0);
    // A tick queued before the timer was switched off is handled before an
    // event posted after it; from then on no tick may come, however slowly
    // the host runs the loop.
    PostEvent(panel, 2, EVENT_VAL_CHANGED);
    ASSERT_TRUE(Eventually([&] { return seen->Count(2, EVENT_VAL_CHANGED) == 1; }));
    const size_t after = seen->Count(10, EVENT_TIMER_TICK);
    std::this_thread::sleep_for(50ms);  // ten periods of the timer
    PostEvent(panel, 2, EVENT_VAL_CHANGED);
    ASSERT_TRUE(Eventually([&] { return seen->Count(2, EVENT_VAL_CHANGED) == 2; }));
    EXPECT_EQ(seen->Count(10, EVENT_TIMER_TICK), after);
}

std::atomic<int> slowTicks{0};
int slowTick(int, int, int event, void*, int, int) {
    if (event == EVENT_TIMER_TICK) {
        ++slowTicks;
        std::this_thread::sleep_for(50ms);
    }
    return 0;
}

TEST_F(RuntimeCoreTest, ABusyDispatcherGetsOneTickNotABacklog) {
    slowTicks = 0;
    RegisterCallback("slowTick", slowTick);
    std::string json = kPanels;
    json.replace(json.find("\"interval\": 0.5, \"enabled\": false,\n          \"callback\": \"onControl\""),
                 std::string("\"interval\": 0.5, \"enabled\": false,\n          \"callback\": \"onControl\"").size(),
                 "\"interval\": 0.1, \"enabled\": true, \"callback\": \"slowTick\"");
    int p = LoadPanel(0, WriteResource(json), 1);
    ASSERT_GT(p, 0) << LastLoadError();
    StartLoop();
    std::this_thread::sleep_for(300ms);
    SetCtrlAttribute(p, 10, ATTR_ENABLED, 0);
    StopLoop();
    // Each tick takes 50 ms against a 1 ms period: at most one waits at a time.
    EXPECT_GE(slowTicks.load(), 3);
    EXPECT_LE(slowTicks.load(), 8);
}

std::atomic<int> stoppingTicks{0};
int tickThatStopsItsTimer(int panel, int control, int event, void*, int, int) {
    if (event == EVENT_TIMER_TICK) {
        ++stoppingTicks;
        // Long enough for the timer thread to queue the next tick meanwhile.
        std::this_thread::sleep_for(30ms);
        SetCtrlAttribute(panel, control, ATTR_ENABLED, 0);
    }
    return 0;
}

TEST_F(RuntimeCoreTest, ATimerSwitchedOffByItsOwnTickTicksNoMore) {
    // A sequence driven by a timer ends by switching its timer off; a tick
    // queued while that last step ran must not run one step more.
    stoppingTicks = 0;
    RegisterCallback("tickThatStopsItsTimer", tickThatStopsItsTimer);
    std::string json = kPanels;
    json.replace(json.find("\"interval\": 0.5, \"enabled\": false,\n          \"callback\": \"onControl\""),
                 std::string("\"interval\": 0.5, \"enabled\": false,\n          \"callback\": \"onControl\"").size(),
                 "\"interval\": 0.1, \"enabled\": true, \"callback\": \"tickThatStopsItsTimer\"");
    int p = LoadPanel(0, WriteResource(json), 1);
    ASSERT_GT(p, 0) << LastLoadError();
    StartLoop();
    ASSERT_TRUE(Eventually([&] { return stoppingTicks.load() >= 1; }));
    std::this_thread::sleep_for(100ms);  // a hundred periods of the timer
    StopLoop();
    EXPECT_EQ(stoppingTicks.load(), 1);
}

TEST_F(RuntimeCoreTest, AutomaticTimersCanBeSwitchedOffForTests) {
    SetAutomaticTimers(false);
    SetCtrlAttribute(panel, 10, ATTR_ENABLED, 1);
    StartLoop();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(seen->Count(10, EVENT_TIMER_TICK), 0u);
    PostEvent(panel, 10, EVENT_TIMER_TICK);
    ASSERT_TRUE(Eventually([&] { return seen->Count(10, EVENT_TIMER_TICK) == 1; }));
}

TEST_F(RuntimeCoreTest, PopupsAreRecordedAndAnsweredFromTheQueue) {
    MessagePopup("Error", "Motor is still running.");
    frontEnd.QueueFileAnswer(std::string("/tmp/x.fts"));
    frontEnd.QueueConfirmAnswer(false);
    std::string chosen;
    EXPECT_EQ(FileSelectPopup("", "*.fts", "*.fts;*.bmp", "Load Data File", VAL_LOAD_BUTTON, &chosen),
              VAL_NEW_FILE_SELECTED);  // the file does not exist
    EXPECT_EQ(chosen, "/tmp/x.fts");
    EXPECT_EQ(ConfirmPopup("Quit", "Really?"), 0);
    EXPECT_EQ(FileSelectPopup("", "*.bmp", "*.bmp", "Save As BMP File", VAL_SAVE_BUTTON, &chosen),
              VAL_NO_FILE_SELECTED);  // nothing queued: cancelled
    auto popups = frontEnd.Popups();
    ASSERT_EQ(popups.size(), 4u);
    EXPECT_EQ(popups[0].title, "Error");
    EXPECT_EQ(popups[0].text, "Motor is still running.");
    EXPECT_EQ(popups[1].kind, PopupRecord::Kind::File);
    EXPECT_EQ(popups[1].title, "Load Data File");
    EXPECT_EQ(popups[2].answer, "no");
    EXPECT_EQ(popups[3].answer, "");
}

TEST_F(RuntimeCoreTest, ModelChangesAreCoalescedUntilTheFrontEndTakesThem) {
    TakeModelChanges(0);
    int before = frontEnd.ModelChangedCalls();
    for (int i = 0; i < 500; ++i) SetCtrlVal(panel, 5, i);
    EXPECT_EQ(frontEnd.ModelChangedCalls(), before + 1);
    ModelChanges changes = TakeModelChanges(0);
    SetCtrlVal(panel, 4, 1.0);
    EXPECT_EQ(frontEnd.ModelChangedCalls(), before + 2);

    // Only what changed since the version taken comes back.
    ModelChanges next = TakeModelChanges(changes.version);
    ASSERT_EQ(next.panels.size(), 1u);
    ASSERT_EQ(next.panels[0].controls.size(), 1u);
    EXPECT_EQ(next.panels[0].controls[0].id, 4);
    EXPECT_TRUE(TakeModelChanges(next.version).panels.empty());
}

TEST_F(RuntimeCoreTest, QuitEndsTheLoopWithItsCode) {
    StartLoop();
    PostDeferredCall([] { QuitUserInterface(5); });
    loop.join();
    EXPECT_EQ(loopResult, 5);
    EXPECT_FALSE(detail::DispatcherRunning());
}

TEST(Histogram, CountsIntoEqualBinsWithTheTopValueInTheLastBin) {
    std::vector<double> data = {1000, 1000.5, 1001, 1050, 1099.9, 1100, 999, 1101};
    int counts[100];
    double axis[100];
    ASSERT_EQ(Histogram(data.data(), static_cast<int>(data.size()), 1000, 1100, counts, axis, 100), 0);
    EXPECT_DOUBLE_EQ(axis[0], 1000.5);
    EXPECT_DOUBLE_EQ(axis[99], 1099.5);
    EXPECT_EQ(counts[0], 2);
    EXPECT_EQ(counts[1], 1);
    EXPECT_EQ(counts[50], 1);
    EXPECT_EQ(counts[99], 2);  // 1099.9 and 1100; 999 and 1101 are outside
    int total = 0;
    for (int c : counts) total += c;
    EXPECT_EQ(total, 6);
    EXPECT_EQ(Histogram(data.data(), 8, 5, 5, counts, axis, 100), UIE_BAD_ARGUMENT);
    EXPECT_EQ(Histogram(data.data(), 8, 0, 1, counts, axis, 0), UIE_BAD_ARGUMENT);
}

}  // namespace
}  // namespace ui::testing

namespace ui::testing {
namespace {

// ---- long work -------------------------------------------------------------------------

// RUN's callback is long work: it holds CAMERA (a conflicting control) and
// the menu's OPEN dimmed and waits, answering the window, until STOP's
// callback says enough.
std::atomic<bool> longWorkDone{false};
std::atomic<int> longWorkBar{0};
std::atomic<int> longWorkPanel{0};
int longWork(int, int control, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    seen->Add(control, event);
    const int hold = HoldDimmed({{longWorkPanel.load(), 7}}, {{longWorkBar.load(), 2}});
    WaitWithEvents([] { return longWorkDone.load(); }, 600, 5);
    ReleaseHold(hold);
    return 0;
}
int endLongWork(int, int control, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    seen->Add(control, event);
    longWorkDone = true;
    return 0;
}

TEST_F(RuntimeCoreTest, LongWorkAnswersClicksAndDropsThoseOnTheControlsItHolds) {
    longWorkDone = false;
    RegisterCallback("longWork", longWork);
    RegisterCallback("endLongWork", endLongWork);
    std::string json = kPanels;
    json.replace(json.find("\"callback\": \"onControl\""), 23, "\"callback\": \"longWork\"");
    json.replace(json.find("\"callback\": \"onControl\""), 23, "\"callback\": \"endLongWork\"");
    int p = LoadPanel(0, WriteResource(json), 1);
    ASSERT_GT(p, 0) << LastLoadError();
    int bar = LoadMenuBar(p, path, 1);
    longWorkBar = bar;
    longWorkPanel = p;
    // A choice the program had made itself comes back after the work.
    SetCtrlAttribute(p, 8, ATTR_DIMMED, 1);
    StartLoop();
    uint64_t seq = detail::PostEventNumbered(p, 2, EVENT_COMMIT, 0, 0);
    // The commit counts as handled once the work waits: a script goes on.
    ASSERT_TRUE(detail::WaitUntilHandled(seq, 5s));
    EXPECT_TRUE(WorkInProgress());
    int dimmed = 0;
    GetCtrlAttribute(p, 7, ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 1);
    GetMenuBarAttribute(bar, 2, ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 1);
    // Clicks on held controls are dropped; the rest are answered while the
    // work goes on, and the program may change a held control meanwhile.
    PostEvent(p, 7, EVENT_COMMIT);
    PostMenuEvent(bar, 2);
    PostMenuEvent(bar, 3);
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard lock(seen->mutex);
        return seen->menuItems == std::vector<int>{3};
    }));
    SetCtrlAttribute(p, 7, ATTR_DIMMED, 0);
    GetCtrlAttribute(p, 7, ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 1) << "held while the work runs";
    PostEvent(p, 3, EVENT_COMMIT);
    ASSERT_TRUE(Eventually([] { return !WorkInProgress(); }));
    EXPECT_EQ(seen->Count(7, EVENT_COMMIT), 0u);
    GetCtrlAttribute(p, 7, ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 0) << "what the program set during the work";
    GetCtrlAttribute(p, 8, ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 1);
    // Undimmed again, the control acts.
    PostEvent(p, 7, EVENT_COMMIT);
    ASSERT_TRUE(Eventually([&] { return seen->Count(7, EVENT_COMMIT) == 1; }));
}

TEST_F(RuntimeCoreTest, WaitsOutsideLongWorkLeaveTheEventsQueued) {
    StartLoop();
    std::atomic<bool> waited{false};
    PostDeferredCall([&] {
        // No hold in force: a short wait of a callback dispatches nothing.
        WaitWithEvents([] { return false; }, 0.05, 0.05);
        waited = seen->Count(2, EVENT_COMMIT) == 0;
    });
    PostEvent(panel, 2, EVENT_COMMIT);
    ASSERT_TRUE(Eventually([&] { return seen->Count(2, EVENT_COMMIT) == 1; }));
    EXPECT_TRUE(waited.load());
}

}  // namespace
}  // namespace ui::testing
