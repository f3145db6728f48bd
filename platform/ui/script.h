// Scripts of user actions (docs/script.md): the demo, end-to-end tests and
// observers' routine sequences drive a running program with them.
#pragma once

#include <string>

#include "platform/ui/headless.h"

namespace ui {

struct ScriptResult {
    bool ok = true;
    int line = 0;          // line of the failing command
    std::string command;   // its text
    std::string message;   // what went wrong
    bool quitIssued = false;
};

class ScriptRunner {
public:
    // `responder` receives the script's popup and file answers; it is the
    // front-end's popup handler while the script runs. `name` prefixes the
    // runner's messages ("PELU_dbg").
    ScriptRunner(HeadlessFrontEnd* responder, std::string name);

    ScriptResult RunFile(const std::string& path);
    ScriptResult RunText(const std::string& text);

private:
    ScriptResult RunLine(const std::string& line, int number);

    HeadlessFrontEnd* responder_;
    std::string name_;
    bool quitIssued_ = false;
};

// Ends the program as a user would: the close box of the first panel shown
// (its shutdown runs); if that panel has no close callback, or nothing has
// happened within `graceSeconds` of real time, the event loop is ended.
void RequestProgramQuit(double graceSeconds = 30.0);

}  // namespace ui
