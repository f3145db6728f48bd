#include "platform/ui/resource.h"
#include "tests/platform/ui/ui_fixture.h"

namespace ui::testing {
namespace {

int noop(int, int, int, void*, int, int) { return 0; }

class ResourceLoadTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        RegisterCallback("known", noop);
    }
    // Loads panel 1 from `json`; returns the handle or error.
    int Load(const std::string& json) { return LoadPanel(0, WriteResource(json), 1); }
};

std::string Panel(const std::string& controls, const std::string& extra = "") {
    return R"({ "panels": [ { "resource": 1, "name": "P", "width": 100, "height": 100 )" + extra +
           R"(, "controls": [ )" + controls + " ] } ] }";
}

TEST_F(ResourceLoadTest, AMissingFileIsReportedWithItsName) {
    EXPECT_EQ(LoadPanel(0, "/nonexistent/PELU.uir", 2), UIE_BAD_RESOURCE_FILE);
    EXPECT_NE(LastLoadError().find("/nonexistent/PELU.uir"), std::string::npos);
    EXPECT_NE(LastLoadError().find("not found"), std::string::npos);
}

std::string Columns(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += std::string(i ? ", " : "") + R"({ "label": "c" })";
    return text;
}

TEST_F(ResourceLoadTest, MalformedFilesAreRefusedWithAReason) {
    struct Case {
        std::string json;
        std::string reason;
    } cases[] = {
        {"{ \"panels\": [ ", "not a valid resource file"},
        {"[1, 2]", "must hold a JSON object"},
        {"", "not a valid resource file"},
        {R"({ "panels": [ { "resource": 1, "name": "P", "height": 10 } ] })", "missing \"width\""},
        {R"({ "panels": [ { "resource": 1, "name": "P", "width": "wide", "height": 10 } ] })",
         "\"width\" must be an integer"},
        {Panel(R"({ "id": 1, "name": "A", "type": "knob", "width": 1, "height": 1 })"),
         "unknown control type \"knob\""},
        {Panel(R"({ "id": 1, "name": "A", "type": "command", "width": 1, "height": 1 },
                  { "id": 1, "name": "B", "type": "command", "width": 1, "height": 1 })"),
         "control id 1 is used twice"},
        {Panel(R"({ "id": 1, "name": "A", "type": "command", "width": 1, "height": 1 },
                  { "id": 2, "name": "A", "type": "command", "width": 1, "height": 1 })"),
         "control name \"A\" is used twice"},
        {Panel(R"({ "id": 1, "name": "R", "type": "ring", "width": 1, "height": 1,
                    "items": [ {"label": "a", "value": 1}, {"label": "b", "value": "x"} ] })"),
         "item values must all be integers"},
        {Panel(R"({ "id": 1, "name": "R", "type": "ring", "width": 1, "height": 1, "index": 3,
                    "items": [ {"label": "a", "value": 1} ] })"),
         "\"index\" is outside the items"},
        {Panel(R"({ "id": 1, "name": "N", "type": "numeric", "width": 1, "height": 1,
                    "min": 5, "max": 1 })"),
         "\"min\" is above \"max\""},
        {Panel(R"({ "id": 1, "name": "T", "type": "tab", "width": 1, "height": 1 })"),
         "needs \"pages\""},
        {Panel(R"({ "id": 1, "name": "L", "type": "lamp", "width": 1, "height": 1,
                    "on_color": "green" })"),
         "#rrggbb"},
        {Panel(R"({ "id": 0, "name": "Z", "type": "command", "width": 1, "height": 1 })"),
         "\"id\" must be positive"},
        {Panel(R"({ "id": 1, "name": "A", "type": "command", "width": 1, "height": 1,
                    "anchor": "left middle" })"),
         "not \"middle\""},
        {Panel("", R"(, "resizable": true, "min_width": 200)"), "no larger than the panel"},
        {Panel(R"({ "id": 1, "name": "G", "type": "table", "width": 1, "height": 1,
                    "columns": [ { "label": "a", "precision": 40 } ] })"),
         "\"precision\" must be 0 to 15"},
        // 100000 rows of 11 columns: a few hundred bytes asking for a million cells and more.
        {Panel(R"({ "id": 1, "name": "G", "type": "table", "width": 1, "height": 1,
                    "rows": 100000, "columns": [ )" +
               Columns(11) + " ] }"),
         "more than 1000000 cells"},
        // Tables within the limit one by one, but not together.
        {Panel(R"({ "id": 1, "name": "G", "type": "table", "width": 1, "height": 1,
                    "rows": 100000, "columns": [ )" +
               Columns(6) + R"( ] },
                  { "id": 2, "name": "H", "type": "table", "width": 1, "height": 1,
                    "rows": 100000, "columns": [ )" +
               Columns(6) + " ] }"),
         "more than 1000000 cells"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Load(c.json), UIE_BAD_RESOURCE_FILE) << c.json;
        EXPECT_NE(LastLoadError().find(c.reason), std::string::npos)
            << "expected \"" << c.reason << "\" in: " << LastLoadError();
    }
}

TEST_F(ResourceLoadTest, UnknownCallbacksAndResourceNumbersAreErrors) {
    EXPECT_EQ(Load(Panel(R"({ "id": 1, "name": "A", "type": "command", "width": 1, "height": 1,
                              "callback": "cmd_Typo" })")),
              UIE_UNKNOWN_CALLBACK);
    EXPECT_NE(LastLoadError().find("unknown callback \"cmd_Typo\""), std::string::npos);

    // A callback named on a tab page is checked too.
    EXPECT_EQ(Load(Panel(R"({ "id": 1, "name": "T", "type": "tab", "width": 1, "height": 1,
                              "pages": [ { "name": "PAGE", "controls": [
                                { "id": 2, "name": "B", "type": "command", "width": 1,
                                  "height": 1, "callback": "missing" } ] } ] })")),
              UIE_UNKNOWN_CALLBACK);

    EXPECT_EQ(Load(Panel("", R"(, "callback": "nope")")), UIE_UNKNOWN_CALLBACK);
    EXPECT_EQ(LoadPanel(0, WriteResource(Panel("")), 7), UIE_RESOURCE_NOT_FOUND);
    EXPECT_NE(LastLoadError().find("no panel with resource number 7"), std::string::npos);

    // Nothing half-loaded is left behind by a failure.
    EXPECT_EQ(FindPanel("P"), UIE_RESOURCE_NOT_FOUND);

    int panel = Load(Panel(R"({ "id": 1, "name": "A", "type": "command", "width": 1, "height": 1,
                                 "callback": "known" })"));
    ASSERT_GT(panel, 0) << LastLoadError();
    EXPECT_EQ(LastLoadError(), "");
}

TEST_F(ResourceLoadTest, MenuBarsCheckTheirCallbacksAndIds) {
    int panel = Load(Panel(""));
    ASSERT_GT(panel, 0);
    std::string bar = R"({ "menubars": [ { "resource": 1, "name": "M", "menus": [
        { "id": 1, "name": "F", "items": [ { "id": 2, "name": "OPEN", "callback": "mnuGone" } ] } ] } ] })";
    EXPECT_EQ(LoadMenuBar(panel, WriteResource(bar), 1), UIE_UNKNOWN_CALLBACK);
    EXPECT_NE(LastLoadError().find("mnuGone"), std::string::npos);

    std::string twice = R"({ "menubars": [ { "resource": 1, "name": "M", "menus": [
        { "id": 1, "name": "F", "items": [ { "id": 1, "name": "OPEN" } ] } ] } ] })";
    EXPECT_EQ(LoadMenuBar(panel, WriteResource(twice), 1), UIE_BAD_RESOURCE_FILE);
    EXPECT_NE(LastLoadError().find("menu id 1 is used twice"), std::string::npos);
    EXPECT_EQ(LoadMenuBar(panel, WriteResource(bar), 2), UIE_RESOURCE_NOT_FOUND);
}

TEST(ResourceParse, PanelAndPageNamesShareOneNamespace) {
    detail::ResourceFile file;
    std::string error;
    std::string json = R"({ "panels": [
        { "resource": 1, "name": "MAIN", "width": 10, "height": 10, "controls": [
          { "id": 1, "name": "T", "type": "tab", "width": 1, "height": 1,
            "pages": [ { "name": "MAIN" } ] } ] } ] })";
    EXPECT_FALSE(detail::ParseResourceText(json, "x.uir", &file, &error));
    EXPECT_NE(error.find("panel name \"MAIN\" is used twice"), std::string::npos);
}

TEST(ResourceParse, DefaultsAreFilledIn) {
    detail::ResourceFile file;
    std::string error;
    std::string json = R"({ "status_box": "P.S", "panels": [
        { "resource": 3, "name": "P", "width": 10, "height": 10, "controls": [
          { "id": 1, "name": "N", "type": "numeric", "width": 1, "height": 1 },
          { "id": 2, "name": "T", "type": "timer" },
          { "id": 3, "name": "G", "type": "table", "width": 1, "height": 1, "rows": 2,
            "columns": [ { "label": "a", "type": "int" }, { "label": "b", "type": "text" } ] } ] } ] })";
    ASSERT_TRUE(detail::ParseResourceText(json, "x.uir", &file, &error)) << error;
    EXPECT_EQ(file.statusBox, "P.S");
    const auto& controls = file.panels[0].controls;
    EXPECT_EQ(controls[0].state.valueType, ValueType::Double);
    EXPECT_TRUE(controls[1].state.timerEnabled);
    EXPECT_FALSE(controls[1].state.visible);
    EXPECT_DOUBLE_EQ(controls[1].state.interval, 1.0);
    ASSERT_EQ(controls[2].state.cells.size(), 2u);
    EXPECT_EQ(controls[2].state.cells[1][0], Value(0));
    EXPECT_EQ(controls[2].state.cells[1][1], Value(std::string()));
    EXPECT_EQ(controls[2].state.columns[0].precision, -1);
    // A fixed panel anchored at its top-left corner unless said otherwise.
    EXPECT_FALSE(file.panels[0].resizable);
    EXPECT_EQ(file.panels[0].minWidth, 10);
    EXPECT_EQ(controls[0].state.anchors, kAnchorLeft | kAnchorTop);
}

TEST(ResourceParse, AnchorsSayWhichEdgesAControlFollows) {
    detail::ResourceFile file;
    std::string error;
    std::string json = R"({ "panels": [
        { "resource": 3, "name": "P", "width": 100, "height": 80, "resizable": true,
          "min_width": 60, "min_height": 50, "maximized": true, "controls": [
          { "id": 1, "name": "A", "type": "picture", "width": 1, "height": 1,
            "anchor": "left top right bottom" },
          { "id": 2, "name": "B", "type": "command", "width": 1, "height": 1, "anchor": "right",
            "shortcut": "Ctrl+R", "tooltip": "Runs" },
          { "id": 3, "name": "C", "type": "command", "width": 1, "height": 1, "anchor": "bottom" } ] } ] })";
    ASSERT_TRUE(detail::ParseResourceText(json, "x.uir", &file, &error)) << error;
    const detail::PanelTemplate& panel = file.panels[0];
    EXPECT_TRUE(panel.resizable);
    EXPECT_TRUE(panel.maximized);
    EXPECT_EQ(panel.minWidth, 60);
    EXPECT_EQ(panel.minHeight, 50);
    EXPECT_EQ(panel.controls[0].state.anchors,
              kAnchorLeft | kAnchorTop | kAnchorRight | kAnchorBottom);
    // Anchored to one side only in a direction: it keeps the other's default.
    EXPECT_EQ(panel.controls[1].state.anchors, kAnchorRight | kAnchorTop);
    EXPECT_EQ(panel.controls[2].state.anchors, kAnchorLeft | kAnchorBottom);
    EXPECT_EQ(panel.controls[1].state.shortcut, "Ctrl+R");
    EXPECT_EQ(panel.controls[1].state.tooltip, "Runs");
}

}  // namespace
}  // namespace ui::testing
