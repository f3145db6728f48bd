// Program start-up: the command line, and whole runs of a small program driven
// by a script, headless and with the Qt front-end drawing offscreen.
#include "platform/ui/qt/app.h"

#include <QImage>
#include <cstdlib>
#include <filesystem>

#include "tests/platform/ui/ui_fixture.h"

namespace ui::testing {
namespace {

ProgramOptions Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "PELU_dbg");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return ParseProgramOptions(static_cast<int>(args.size()), argv.data());
}

TEST(ProgramOptionsTest, CommandLine) {
    ProgramOptions none = Parse({});
    EXPECT_FALSE(none.headless);
    EXPECT_TRUE(none.scriptPath.empty());
    EXPECT_TRUE(none.error.empty());

    ProgramOptions both = Parse({"--headless", "--script", "demo.txt"});
    EXPECT_TRUE(both.headless);
    EXPECT_EQ(both.scriptPath, "demo.txt");
    EXPECT_TRUE(both.error.empty());
    EXPECT_EQ(Parse({"--script=run.txt"}).scriptPath, "run.txt");
    EXPECT_TRUE(Parse({"--help"}).help);

    EXPECT_NE(Parse({"--script"}).error.find("--script"), std::string::npos);
    EXPECT_NE(Parse({"--script="}).error, "");
    const ProgramOptions unknown = Parse({"--headless", "--fast"});
    EXPECT_NE(unknown.error.find("--fast"), std::string::npos) << unknown.error;
}

// ---- whole runs -------------------------------------------------------------------------

const char* kResource = R"({
  "panels": [
    { "resource": 1, "name": "MAIN", "title": "Start-up test", "width": 200, "height": 120,
      "callback": "onClose",
      "controls": [
        { "id": 2, "name": "EXPOSURE", "type": "numeric", "label": "Exposure",
          "data_type": "double", "value": 1, "left": 10, "top": 30, "width": 80, "height": 24 }
      ] }
  ]
})";

std::string resourcePath;

// The close box ends the program with a result of its own.
int OnClose(int, int, int event, void*, int, int) {
    if (event == EVENT_CLOSE) QuitUserInterface(7);
    return 0;
}

int ProgramMain() {
    RegisterCallback("onClose", OnClose);
    const int panel = LoadPanel(0, resourcePath, 1);
    if (panel < 0) return -1;
    DisplayPanel(panel);
    return RunUserInterface();
}

class RunProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRuntime();
        resourcePath = WriteResource(kResource);
        folder = std::filesystem::path(resourcePath).parent_path();
    }
    void TearDown() override { ResetRuntime(); }

    std::string WriteScript(const std::string& text) {
        const auto path = folder / "script.txt";
        std::ofstream(path) << text;
        return path.string();
    }

    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), "app_test");
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        return RunProgram(static_cast<int>(args.size()), argv.data(), "app_test", ProgramMain);
    }

    std::filesystem::path folder;
};

TEST_F(RunProgramTest, BadCommandLineShowsUsage) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Run({"--fast"}), 2);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("--fast"), std::string::npos) << err;
    EXPECT_NE(err.find("usage:"), std::string::npos) << err;
}

TEST_F(RunProgramTest, HeadlessScriptWithoutQuitStillEndsTheProgram) {
    const std::string script = WriteScript(
        "set MAIN.EXPOSURE 2.5\n"
        "expect value MAIN.EXPOSURE 2.5\n");
    EXPECT_EQ(Run({"--headless", "--script", script}), 7);
}

TEST_F(RunProgramTest, FailingScriptNamesItsLineAndFailsTheRun) {
    const std::string script = WriteScript(
        "# exposure first\n"
        "set MAIN.NO_SUCH_CONTROL 1\n"
        "set MAIN.EXPOSURE 3\n");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Run({"--headless", "--script", script}), 1);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("app_test: script " + script + " line 2: set MAIN.NO_SUCH_CONTROL 1: "),
              std::string::npos)
        << err;
}

TEST_F(RunProgramTest, QtRunWithoutDisplayDrawsOffscreenAndTakesScreenshots) {
    // Saved and restored: the rest of the tests keep the caller's display.
    const auto saved = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto display = saved("DISPLAY"), wayland = saved("WAYLAND_DISPLAY"),
               platform = saved("QT_QPA_PLATFORM");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");

    const std::string png = (folder / "main.png").string();
    const std::string script =
        WriteScript("set MAIN.EXPOSURE 4.5\nscreenshot " + png + " MAIN\nquit\n");
    ::testing::internal::CaptureStderr();
    const int result = Run({"--script", script});
    const std::string err = ::testing::internal::GetCapturedStderr();

    for (const auto& [name, value] :
         {std::pair{"DISPLAY", display}, std::pair{"WAYLAND_DISPLAY", wayland},
          std::pair{"QT_QPA_PLATFORM", platform}})
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);

    EXPECT_EQ(result, 7);
    EXPECT_NE(err.find("offscreen"), std::string::npos) << err;
    const QImage shot(QString::fromStdString(png));
    ASSERT_FALSE(shot.isNull()) << "no screenshot at " << png << "\n" << err;
    EXPECT_EQ(shot.size(), QSize(200, 120));
}

}  // namespace
}  // namespace ui::testing
