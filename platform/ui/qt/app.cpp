#include "platform/ui/qt/app.h"

#include <QApplication>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/ui/frontend.h"
#include "platform/ui/headless.h"
#include "platform/ui/qt/qt_frontend.h"
#include "platform/ui/script.h"
#include "platform/ui/ui.h"

namespace ui {

namespace {

std::string Usage(const std::string& programName) {
    return "usage: " + programName +
           " [--headless] [--script FILE]\n"
           "  --headless      run without windows; popups are answered, not shown\n"
           "  --script FILE   drive the program with the user actions in FILE\n"
           "  --help          show this text\n"
           "Without a display the windows are drawn offscreen (QT_QPA_PLATFORM=offscreen).\n";
}

// Tells the script thread when the program's event loop runs (the program
// has loaded its panels and waits for input), or that the program ended
// without ever waiting.
class ProgramStart {
  public:
    ProgramStart() : state_(std::make_shared<State>()) {
        // Runs on the dispatch thread once RunUserInterface dispatches. The
        // state is shared: the call may stay queued after this object is gone.
        PostDeferredCall([state = state_] { state->Set(&State::loopRuns); });
    }
    void ProgramEnded() { state_->Set(&State::programEnded); }
    // True when the loop runs, false when the program ended first.
    bool WaitUntilLoopRuns() {
        std::unique_lock lock(state_->mutex);
        state_->changed.wait(lock, [&] { return state_->loopRuns || state_->programEnded; });
        return state_->loopRuns;
    }

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool loopRuns = false;
        bool programEnded = false;
        void Set(bool State::*flag) {
            {
                const std::lock_guard lock(mutex);
                this->*flag = true;
            }
            changed.notify_all();
        }
    };
    std::shared_ptr<State> state_;
};

bool HasEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

ProgramOptions ParseProgramOptions(int argc, char** argv) {
    ProgramOptions options;
    for (int i = 1; i < argc && options.error.empty(); ++i) {
        const std::string arg = argv[i] ? argv[i] : "";
        if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--script") {
            if (i + 1 >= argc || !argv[i + 1] || !*argv[i + 1]) {
                options.error = "--script needs a file name";
            } else {
                options.scriptPath = argv[++i];
            }
        } else if (arg.rfind("--script=", 0) == 0) {
            options.scriptPath = arg.substr(9);
            if (options.scriptPath.empty()) options.error = "--script needs a file name";
        } else {
            options.error = "unknown option '" + arg + "'";
        }
    }
    return options;
}

int RunProgram(int argc, char** argv, const std::string& programName,
               std::function<int()> programMain) {
    const ProgramOptions options = ParseProgramOptions(argc, argv);
    if (!options.error.empty()) {
        std::cerr << programName << ": " << options.error << "\n" << Usage(programName);
        return 2;
    }
    if (options.help) {
        std::cout << Usage(programName);
        return 0;
    }

    InitRuntime();
    HeadlessFrontEnd responder;  // answers popups for a script, or is the front-end headless
    const bool scripted = !options.scriptPath.empty();
    std::atomic<bool> scriptFailed{false};
    int programResult = 0;

    // The script acts on the program from its own thread, as a person would,
    // once the program waits for input: its panels are loaded by then.
    ProgramStart start;
    const auto runScript = [&] {
        if (!start.WaitUntilLoopRuns()) {
            std::cerr << programName << ": script " << options.scriptPath
                      << " not run: the program ended before it waited for input" << std::endl;
            return;
        }
        const ScriptResult result =
            ScriptRunner(&responder, programName).RunFile(options.scriptPath);
        if (!result.ok) {
            std::cerr << programName << ": script " << options.scriptPath << " line " << result.line
                      << ": " << result.command << ": " << result.message << std::endl;
            scriptFailed = true;
            RequestProgramQuit();
        } else if (!result.quitIssued && options.headless) {
            // Nobody could close a headless program once its script is over.
            RequestProgramQuit();
        }
    };
    const auto runProgram = [&] {
        programResult = programMain();
        start.ProgramEnded();
    };

    if (options.headless) {
        SetFrontEnd(&responder);
        // The program thread becomes the dispatch thread in RunUserInterface.
        std::thread program(runProgram);
        std::thread script;
        if (scripted) script = std::thread(runScript);
        program.join();
        if (script.joinable()) script.join();
        SetFrontEnd(nullptr);
    } else {
        if (!HasEnv("DISPLAY") && !HasEnv("WAYLAND_DISPLAY") && !HasEnv("QT_QPA_PLATFORM")) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            std::cerr << programName
                      << ": no display found; the windows are drawn offscreen "
                         "(QT_QPA_PLATFORM=offscreen)"
                      << std::endl;
        }
        // Our own options are parsed already; Qt gets the program name only.
        int qtArgc = 1;
        char* qtArgv[] = {argv[0], nullptr};
        QApplication app(qtArgc, qtArgv);
        // A panel's close box only asks the program; windows never end the loop.
        app.setQuitOnLastWindowClosed(false);
        std::atomic<bool> programDone{false};
        {
            QtFrontEnd frontEnd(scripted ? &responder : nullptr);
            SetFrontEnd(&frontEnd);
            std::thread program([&] {
                runProgram();
                programDone = true;
                // Queued: also ends the loop if exec() has not started yet.
                // exit(), not quit(): quit() first asks the windows to close,
                // and panel windows refuse (their close box belongs to the
                // program).
                QMetaObject::invokeMethod(
                    &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
            });
            std::thread script;
            if (scripted) script = std::thread(runScript);
            app.exec();
            // From here on nobody answers a window: popups and screenshots
            // asked by other threads return at once.
            frontEnd.CloseGui();
            if (!programDone) RequestProgramQuit();
            program.join();
            if (script.joinable()) script.join();
            SetFrontEnd(nullptr);
        }
    }
    if (scriptFailed) return 1;
    return programResult;
}

}  // namespace ui
