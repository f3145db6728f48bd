// Start-up shared by the three programs: picks the front-end, runs the
// program's own main on the dispatch thread and, with --script, drives it
// from a script of user actions.
//
//   PROGRAM [--headless] [--script FILE]
//
// Without --headless the Qt front-end shows real windows (set
// QT_QPA_PLATFORM=offscreen to run it without a display).
#pragma once

#include <functional>
#include <string>

namespace ui {

struct ProgramOptions {
    bool headless = false;
    std::string scriptPath;
    bool help = false;
    std::string error;  // a bad command line
};

ProgramOptions ParseProgramOptions(int argc, char** argv);

// Runs `programMain` (which loads the panels and calls RunUserInterface) and
// returns its result; 1 when the script failed, 2 for a bad command line.
int RunProgram(int argc, char** argv, const std::string& programName,
               std::function<int()> programMain);

}  // namespace ui
