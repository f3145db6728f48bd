#include "platform/ui/script.h"

#include <atomic>

#include "platform/ui/runtime_internal.h"
#include "tests/platform/ui/ui_fixture.h"

namespace ui::testing {
namespace {

const char* kPanels = R"({
  "status_box": "MAIN.STATUS",
  "panels": [
    { "resource": 1, "name": "MAIN", "title": "Main", "width": 800, "height": 600,
      "callback": "closeMain",
      "controls": [
        { "id": 2, "name": "RUN", "type": "command", "left": 10, "top": 10, "width": 80,
          "height": 24, "callback": "run" },
        { "id": 3, "name": "STOP", "type": "command", "left": 100, "top": 10, "width": 80,
          "height": 24, "callback": "report" },
        { "id": 4, "name": "EXPOSURE", "type": "numeric", "left": 10, "top": 40, "width": 80,
          "height": 24 },
        { "id": 5, "name": "CAMERA", "type": "ring", "left": 10, "top": 70, "width": 80,
          "height": 24, "items": [ {"label": "CCD 1", "value": 0}, {"label": "Both CCDs", "value": 2} ] },
        { "id": 6, "name": "STATUS", "type": "textbox", "left": 200, "top": 40, "width": 300,
          "height": 200 },
        { "id": 7, "name": "PICTURE", "type": "picture", "left": 300, "top": 250, "width": 64,
          "height": 64, "callback": "report" },
        { "id": 8, "name": "DIMMED", "type": "command", "dimmed": true, "left": 10, "top": 100,
          "width": 80, "height": 24, "callback": "report" },
        { "id": 9, "name": "COMMAND", "type": "string", "left": 10, "top": 130, "width": 80,
          "height": 24, "callback": "report" },
        { "id": 10, "name": "TABLE", "type": "table", "rows": 1, "left": 10, "top": 160,
          "width": 200, "height": 60, "callback": "report",
          "columns": [ {"label": "Wavelength", "type": "double"}, {"label": "Order", "type": "int"} ] },
        { "id": 11, "name": "AMP", "type": "timer", "enabled": false, "callback": "report" },
        { "id": 12, "name": "SAVE", "type": "command", "left": 100, "top": 100, "width": 80,
          "height": 24, "callback": "saveElsewhere" }
      ] }
  ],
  "menubars": [ { "resource": 1, "name": "MENUBAR", "menus": [ { "id": 1, "name": "FILE",
      "items": [ { "id": 2, "name": "OPEN", "callback": "openFile" } ] } ] } ]
})";

int statusBox[2];  // panel, control
void Status(const std::string& text) { SetCtrlVal(statusBox[0], statusBox[1], text); }

// RUN: reports, then waits for the user as a run does between repetitions.
int run(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    double exposure = 0;
    GetCtrlVal(statusBox[0], 4, &exposure);
    Status("run with exposure " + std::to_string(exposure) + "\n");
    int panel, control;
    GetUserEvent(1, &panel, &control);
    Status(control == 3 ? "stopped\n" : "continued\n");
    return 0;
}

// Writes every event it sees with its data into the status box.
int report(int, int control, int event, void*, int data1, int data2) {
    Status("event " + std::to_string(control) + " " + std::to_string(event) + " " +
           std::to_string(data1) + " " + std::to_string(data2) + "\n");
    return 0;
}

std::atomic<int> closes{0};
int closeMain(int, int, int event, void*, int, int) {
    if (event == EVENT_CLOSE) {
        ++closes;
        QuitUserInterface(0);
    }
    return 0;
}

// SAVE with a data folder that is gone: a warning, then a folder to save into.
int saveElsewhere(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    AppendWarningText(statusBox[0], statusBox[1], "\nThe series was not saved to E:\\gone\n");
    std::string folder;
    if (DirSelectPopup("E:\\gone", "Choose another folder", &folder) == 1)
        Status("saved into " + folder + "\n");
    else
        Status("kept in memory\n");
    return 0;
}

void openFile(int, int, void*, int) {
    std::string path;
    if (FileSelectPopup("", "*.fts", "*.fts;*.bmp", "Load Data File", VAL_LOAD_BUTTON, &path) > 0)
        Status("opened " + path + "\n");
    else
        MessagePopup("Error", "No File Exists");
}

class ScriptTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        closes = 0;
        RegisterCallback("run", run);
        RegisterCallback("report", report);
        RegisterCallback("closeMain", closeMain);
        RegisterCallback("saveElsewhere", saveElsewhere);
        RegisterMenuCallback("openFile", openFile);
        std::string path = WriteResource(kPanels);
        panel = LoadPanel(0, path, 1);
        ASSERT_GT(panel, 0) << LastLoadError();
        ASSERT_GT(LoadMenuBar(panel, path, 1), 0) << LastLoadError();
        GetStatusBox(&statusBox[0], &statusBox[1]);
        DisplayPanel(panel);
        StartLoop();
    }
    ScriptResult Run(const std::string& text) {
        ScriptRunner runner(&frontEnd, "test");
        return runner.RunText(text);
    }
    std::string StatusText() {
        std::string text;
        GetCtrlVal(statusBox[0], statusBox[1], &text);
        return text;
    }
    int panel = 0;
};

TEST_F(ScriptTest, DrivesCallbacksThroughUserWaitsLikeAPerson) {
    ScriptResult result = Run(R"(
# a run with two repetitions
set MAIN.EXPOSURE 0.25
commit MAIN.RUN
expect status "run with exposure 0.25"
commit MAIN.EXPOSURE
expect status continued
commit MAIN.RUN
commit MAIN.STOP
expect status stopped
)");
    ASSERT_TRUE(result.ok) << "line " << result.line << ": " << result.message;
    EXPECT_EQ(StatusText(),
              "run with exposure 0.250000\ncontinued\nrun with exposure 0.250000\n"
              "event 3 1 0 0\nstopped\n");
}

TEST_F(ScriptTest, PointerKeysCellsAndTicksCarryTheirEventData) {
    ScriptResult result = Run(R"(
click MAIN.PICTURE 5 7
move MAIN.PICTURE 1 2
set MAIN.COMMAND "#1J=50"
key MAIN.COMMAND enter
cell MAIN.TABLE 1 2 34
tick MAIN.AMP
expect value MAIN.COMMAND #1J=50
set MAIN.CAMERA "Both CCDs"
expect value MAIN.CAMERA 2
)");
    ASSERT_TRUE(result.ok) << "line " << result.line << ": " << result.message;
    // Picture coordinates become panel coordinates: y + top, x + left.
    EXPECT_EQ(StatusText(), "event 7 3 257 305\n"
                            "event 7 33 252 301\n"
                            "event 9 7 1280 0\n"
                            "event 10 32 0 65538\n"
                            "event 11 15 0 0\n");
    int order = 0;
    GetTableCellVal(panel, 10, MakePoint(2, 1), &order);
    EXPECT_EQ(order, 34);
}

TEST_F(ScriptTest, MenusAndAnsweredFileDialogs) {
    ScriptResult result = Run(R"(
answer file /data/x.fts
menu OPEN
expect status "opened /data/x.fts"
menu MENUBAR.OPEN
expect popup "No File Exists"
)");
    ASSERT_TRUE(result.ok) << "line " << result.line << ": " << result.message;
    auto popups = frontEnd.Popups();
    ASSERT_EQ(popups.size(), 3u);
    EXPECT_EQ(popups[0].title, "Load Data File");
    EXPECT_EQ(popups[1].answer, "");  // the second dialog had no answer: cancelled
}

TEST_F(ScriptTest, WarningsAreSeenAndFolderDialogsAnswered) {
    ScriptResult result = Run(R"(
answer folder /data/elsewhere
commit MAIN.SAVE
expect warning "was not saved to E:\gone"
expect status "saved into /data/elsewhere"
commit MAIN.SAVE
expect status "kept in memory"
)");
    ASSERT_TRUE(result.ok) << "line " << result.line << ": " << result.message;
    auto popups = frontEnd.Popups();
    ASSERT_EQ(popups.size(), 2u);
    EXPECT_EQ(popups[0].kind, PopupRecord::Kind::Folder);
    EXPECT_EQ(popups[0].title, "Choose another folder");
    EXPECT_EQ(popups[0].answer, "/data/elsewhere");
    EXPECT_EQ(popups[1].answer, "");  // no answer queued: cancelled

    // A plain line is no warning.
    result = Run("timeout 1\nexpect warning \"kept in memory\"\n");
    EXPECT_FALSE(result.ok);
}

TEST_F(ScriptTest, ErrorsNameTheLineAndWhatWentWrong) {
    struct Case {
        std::string script;
        int line;
        std::string message;
    } cases[] = {
        {"set MAIN.EXPOSURE 1\nfrobnicate\n", 2, "unknown command \"frobnicate\""},
        {"commit MAIN.NOPE", 1, "no control named MAIN.NOPE"},
        {"commit NOPANEL.RUN", 1, "no panel named NOPANEL"},
        {"commit MAIN.DIMMED", 1, "MAIN.DIMMED is dimmed"},
        {"set MAIN.EXPOSURE fast", 1, "takes a number"},
        {"set MAIN.CAMERA \"CCD 3\"", 1, "has no item \"CCD 3\""},
        {"tick MAIN.RUN", 1, "is not a timer"},
        {"menu NOTHING", 1, "no menu item named NOTHING"},
        {"wait soon", 1, "seconds must be a number"},
        // Beyond a day: once overflowed the conversion to milliseconds.
        {"timeout 1e300", 1, "seconds must be a number from 0 to 86400"},
        {"wait 86400.5", 1, "seconds must be a number from 0 to 86400"},
        {"timeout -1", 1, "seconds must be a number"},
        {"wait nan", 1, "seconds must be a number"},
        {"timeout inf", 1, "seconds must be a number"},
        {"timeout 0.2\nexpect status \"never written\"", 2, "never showed \"never written\""},
        {"timeout 0.2\nexpect value MAIN.EXPOSURE 3", 2, "shows \"1\", not \"3\""},
        {"answer popup maybe", 1, "answer popup takes yes or no"},
    };
    for (const Case& c : cases) {
        ScriptResult result = Run(c.script);
        EXPECT_FALSE(result.ok) << c.script;
        EXPECT_EQ(result.line, c.line) << c.script;
        EXPECT_NE(result.message.find(c.message), std::string::npos)
            << c.script << " gave: " << result.message;
    }
}

TEST_F(ScriptTest, QuitClosesTheMainPanelSoItsShutdownRuns) {
    ScriptResult result = Run("commit MAIN.STOP\nquit\ncommit MAIN.STOP\n");
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_TRUE(result.quitIssued);
    EXPECT_EQ(result.line, 2);  // nothing after quit runs
    loop.join();
    EXPECT_EQ(closes.load(), 1);
    EXPECT_FALSE(detail::DispatcherRunning());
}

TEST_F(ScriptTest, AScriptFileThatCannotBeReadIsAnError) {
    ScriptRunner runner(&frontEnd, "test");
    ScriptResult result = runner.RunFile("/nonexistent/demo.pelu");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("/nonexistent/demo.pelu"), std::string::npos);
}

}  // namespace
}  // namespace ui::testing
