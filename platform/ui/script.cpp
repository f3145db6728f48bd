#include "platform/ui/script.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "platform/os/os.h"
#include "platform/ui/runtime_internal.h"
#include "platform/ui/ui.h"

namespace ui {
namespace {

using namespace std::chrono_literals;

// Thrown by a command that fails; ends the script.
struct ScriptError {
    std::string message;
};

[[noreturn]] void Fail(std::string message) { throw ScriptError{std::move(message)}; }

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// Splits off the first word; `rest` keeps the remainder, trimmed.
std::string NextWord(std::string& rest) {
    rest = Trim(rest);
    size_t space = rest.find_first_of(" \t");
    std::string word = rest.substr(0, space);
    rest = space == std::string::npos ? "" : Trim(rest.substr(space));
    return word;
}

std::string Unquote(const std::string& text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    return text;
}

bool ParseNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

int ParseInt(const std::string& text, const char* what) {
    double v;
    if (!ParseNumber(text, &v) || v != std::floor(v) || std::fabs(v) > 1e9)
        Fail(std::string(what) + " must be a whole number, not \"" + text + "\"");
    return static_cast<int>(v);
}

// A wait or time-out longer than a day is a mistake in the script; the limit
// also keeps every conversion to a count of milliseconds in range.
constexpr double kMaxScriptSeconds = 24 * 3600;

double ParseSeconds(const std::string& text) {
    double v;
    if (!ParseNumber(text, &v) || v < 0 || v > kMaxScriptSeconds)
        Fail("seconds must be a number from 0 to 86400 (a day), not \"" + text + "\"");
    return v;
}

struct Target {
    int panel = 0;
    int control = 0;
    std::string name;
};

int PanelNamed(const std::string& name) {
    int panel = FindPanel(name);
    if (panel <= 0) Fail("no panel named " + name);
    return panel;
}

Target ControlNamed(const std::string& dotted) {
    size_t dot = dotted.find('.');
    if (dot == std::string::npos) Fail("\"" + dotted + "\" must name PANEL.CONTROL");
    Target t;
    t.name = dotted;
    t.panel = PanelNamed(dotted.substr(0, dot));
    t.control = FindControl(t.panel, dotted.substr(dot + 1));
    if (t.control <= 0) Fail("no control named " + dotted);
    return t;
}

CtrlType TypeOf(const Target& t) {
    int type = 0;
    GetCtrlAttribute(t.panel, t.control, ATTR_CTRL_TYPE, &type);
    return static_cast<CtrlType>(type);
}

// A person can only operate what is shown and not dimmed.
void RequireReachableNow(const Target& t) {
    int dimmed = 0, visible = 1;
    GetCtrlAttribute(t.panel, t.control, ATTR_DIMMED, &dimmed);
    GetCtrlAttribute(t.panel, t.control, ATTR_VISIBLE, &visible);
    if (dimmed) Fail(t.name + " is dimmed");
    if (!visible) Fail(t.name + " is hidden");
    for (int panel = t.panel; panel != 0;) {
        int panelDimmed = 0, panelVisible = 0, parent = 0;
        GetPanelAttribute(panel, ATTR_DIMMED, &panelDimmed);
        GetPanelAttribute(panel, ATTR_VISIBLE, &panelVisible);
        GetPanelAttribute(panel, ATTR_PANEL_PARENT, &parent);
        if (panelDimmed) Fail(t.name + " is on a dimmed panel or page");
        if (!panelVisible) Fail(t.name + " is on a panel that is not shown");
        panel = parent;
    }
}

bool Reachable(const Target& t) {
    try {
        RequireReachableNow(t);
        return true;
    } catch (const ScriptError&) {
        return false;
    }
}

bool IsIndicator(const Target& t) {
    return detail::ControlIsIndicator(t.panel, t.control);
}

bool IsListType(CtrlType type) {
    return type == CtrlType::Ring || type == CtrlType::ListBox || type == CtrlType::RadioGroup ||
           type == CtrlType::Tree;
}

// Index of the list item whose label is `text`, or whose value is `text`.
int ListIndexOf(const Target& t, const std::string& text) {
    int count = 0;
    GetNumListItems(t.panel, t.control, &count);
    for (int i = 0; i < count; ++i) {
        std::string label;
        GetLabelFromIndex(t.panel, t.control, i, &label);
        if (label == text) return i;
    }
    double number;
    bool isNumber = ParseNumber(text, &number);
    for (int i = 0; i < count; ++i) {
        double value;
        if (isNumber && GetValueFromIndex(t.panel, t.control, i, &value) == 0 && value == number)
            return i;
    }
    return -1;
}

void SetValueFromText(const Target& t, const std::string& text) {
    CtrlType type = TypeOf(t);
    int status = 0;
    switch (type) {
        case CtrlType::Numeric:
        case CtrlType::Slider: {
            double v;
            if (!ParseNumber(text, &v)) Fail(t.name + " takes a number, not \"" + text + "\"");
            status = SetCtrlVal(t.panel, t.control, v);
            break;
        }
        case CtrlType::Toggle:
        case CtrlType::Lamp:
        case CtrlType::RadioButton: {
            int on = text == "1" || text == "on" || text == "true"    ? 1
                     : text == "0" || text == "off" || text == "false" ? 0
                                                                       : -1;
            if (on < 0) Fail(t.name + " takes on or off, not \"" + text + "\"");
            status = SetCtrlVal(t.panel, t.control, on);
            break;
        }
        case CtrlType::String:
        case CtrlType::TextMessage:
            status = SetCtrlVal(t.panel, t.control, text);
            break;
        case CtrlType::TextBox:
            status = ResetTextBox(t.panel, t.control, text);
            break;
        case CtrlType::Ring:
        case CtrlType::ListBox:
        case CtrlType::RadioGroup:
        case CtrlType::Tree: {
            int index = ListIndexOf(t, text);
            if (index < 0) Fail(t.name + " has no item \"" + text + "\"");
            status = type == CtrlType::RadioGroup ? MarkOption(t.panel, t.control, index)
                                                  : SetCtrlIndex(t.panel, t.control, index);
            break;
        }
        case CtrlType::Tab:
            status = SetCtrlVal(t.panel, t.control, ParseInt(text, "a tab page"));
            break;
        default:
            Fail(t.name + " takes no value");
    }
    if (status < 0) Fail(t.name + ": " + ErrorText(status));
}

// The control's value as a person reads it (a list shows its item's label).
std::string ValueText(const Target& t) {
    CtrlType type = TypeOf(t);
    if (IsListType(type)) {
        int index = -1;
        if (type == CtrlType::RadioGroup) GetMarkedOption(t.panel, t.control, &index);
        else GetCtrlIndex(t.panel, t.control, &index);
        std::string label;
        GetLabelFromIndex(t.panel, t.control, index, &label);
        return label;
    }
    std::string text;
    if (GetCtrlVal(t.panel, t.control, &text) == 0) return text;
    double number = 0;
    GetCtrlVal(t.panel, t.control, &number);
    std::ostringstream out;
    out << number;
    return out.str();
}

bool ValueMatches(const Target& t, const std::string& expected) {
    CtrlType type = TypeOf(t);
    if (IsListType(type)) return ListIndexOf(t, expected) >= 0 && [&] {
        int index = -1;
        if (type == CtrlType::RadioGroup) GetMarkedOption(t.panel, t.control, &index);
        else GetCtrlIndex(t.panel, t.control, &index);
        std::string label;
        GetLabelFromIndex(t.panel, t.control, index, &label);
        double value, number;
        return label == expected ||
               (ParseNumber(expected, &number) &&
                GetValueFromIndex(t.panel, t.control, index, &value) == 0 && value == number);
    }();
    std::string text;
    if (GetCtrlVal(t.panel, t.control, &text) == 0) return text == expected;
    double value = 0, number = 0;
    if (GetCtrlVal(t.panel, t.control, &value) < 0 || !ParseNumber(expected, &number)) return false;
    return std::fabs(value - number) <= 1e-9 * std::max(1.0, std::fabs(number));
}

std::string StatusText() {
    int panel = 0, control = 0;
    if (GetStatusBox(&panel, &control) < 0) Fail("the resource file names no status box");
    std::string text;
    GetCtrlVal(panel, control, &text);
    return text;
}

// The parts of the status box shown in the warning colour.
std::vector<std::string> StatusWarnings() {
    int panel = 0, control = 0;
    if (GetStatusBox(&panel, &control) < 0) Fail("the resource file names no status box");
    std::vector<std::string> warnings;
    GetTextBoxWarnings(panel, control, &warnings);
    return warnings;
}

}  // namespace

ScriptRunner::ScriptRunner(HeadlessFrontEnd* responder, std::string name)
    : responder_(responder), name_(std::move(name)) {}

ScriptResult ScriptRunner::RunFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        ScriptResult result;
        result.ok = false;
        result.message = "cannot read the script " + path;
        return result;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return RunText(text.str());
}

ScriptResult ScriptRunner::RunText(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        ScriptResult result = RunLine(line, number);
        if (!result.ok || result.quitIssued) return result;
    }
    ScriptResult done;
    done.quitIssued = quitIssued_;
    return done;
}

namespace {

// Time-outs of commit and expect, in instrument seconds.
struct Timeouts {
    double seconds = 600.0;
    std::chrono::milliseconds Real() const {
        // Under a fast time scale a loaded machine must not turn a slow start
        // into a failed script: the real wait is at least the unscaled one,
        // up to five seconds.
        double real = std::max(seconds * os::TimeScale(), std::min(seconds, 5.0));
        return std::chrono::milliseconds(static_cast<long long>(real * 1000));
    }
};

// Polls `condition` until true or the time-out passes.
template <class Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

thread_local Timeouts timeouts;
thread_local size_t popupsSeen = 0;
thread_local size_t statusPrinted = 0;

// Posts an event as a user would and waits until the program has dealt with
// it (the callback returned or waits for the user again).
void PostAndWait(int panel, int control, int event, int data1, int data2, const std::string& what) {
    uint64_t seq = detail::PostEventNumbered(panel, control, event, data1, data2);
    if (!detail::WaitUntilHandled(seq, timeouts.Real()))
        Fail(what + ": the program did not come back within " + std::to_string(timeouts.seconds) +
             " s (instrument time)");
}

// While long work runs, the controls it holds dimmed come back when it ends:
// a person waits for them as a script does. Fails when the control is still
// out of reach after the time-out, or at once when no work runs.
void RequireReachable(const Target& t) {
    if (!Reachable(t) && WorkInProgress())
        WaitFor([&] { return Reachable(t) || !WorkInProgress(); }, timeouts.Real());
    RequireReachableNow(t);
}

void PointerEvent(const std::string& verb, std::string rest, int event) {
    Target t = ControlNamed(NextWord(rest));
    int x = ParseInt(NextWord(rest), "x");
    int y = ParseInt(NextWord(rest), "y");
    RequireReachable(t);
    int top = 0, left = 0;
    GetCtrlBoundingRect(t.panel, t.control, &top, &left, nullptr, nullptr);
    PostAndWait(t.panel, t.control, event, top + y, left + x, verb + " " + t.name);
}

}  // namespace

ScriptResult ScriptRunner::RunLine(const std::string& rawLine, int number) {
    ScriptResult result;
    result.line = number;
    result.command = Trim(rawLine);
    std::string rest = result.command;
    if (rest.empty() || rest[0] == '#') return result;
    std::string verb = NextWord(rest);
    try {
        if (verb == "set") {
            Target t = ControlNamed(NextWord(rest));
            RequireReachable(t);
            if (IsIndicator(t)) Fail(t.name + " is an indicator: it only shows a value");
            SetValueFromText(t, Unquote(rest));
        } else if (verb == "commit") {
            Target t = ControlNamed(NextWord(rest));
            RequireReachable(t);
            PostAndWait(t.panel, t.control, EVENT_COMMIT, 0, 0, "commit " + t.name);
        } else if (verb == "tick") {
            Target t = ControlNamed(NextWord(rest));
            if (TypeOf(t) != CtrlType::Timer) Fail(t.name + " is not a timer");
            PostAndWait(t.panel, t.control, EVENT_TIMER_TICK, 0, 0, "tick " + t.name);
        } else if (verb == "key") {
            Target t = ControlNamed(NextWord(rest));
            std::string key = Unquote(rest);
            int code = key == "enter" ? VAL_ENTER_VKEY
                       : key == "esc" ? VAL_ESC_VKEY
                       : key.size() == 1 ? static_cast<unsigned char>(key[0])
                                         : (Fail("key takes enter, esc or one character"), 0);
            RequireReachable(t);
            PostAndWait(t.panel, t.control, EVENT_KEYPRESS, code, 0, "key " + t.name);
        } else if (verb == "click") {
            PointerEvent(verb, rest, EVENT_LEFT_CLICK);
        } else if (verb == "move") {
            PointerEvent(verb, rest, EVENT_MOUSE_POINTER_MOVE);
        } else if (verb == "leave") {
            Target t = ControlNamed(NextWord(rest));
            RequireReachable(t);
            PostAndWait(t.panel, t.control, EVENT_MOUSE_POINTER_LEAVE, 0, 0, verb + " " + t.name);
        } else if (verb == "cell") {
            Target t = ControlNamed(NextWord(rest));
            int row = ParseInt(NextWord(rest), "the row");
            int column = ParseInt(NextWord(rest), "the column");
            std::string text = Unquote(rest);
            RequireReachable(t);
            Point cell = MakePoint(column, row);
            std::string current;
            double numberValue;
            int status = GetTableCellVal(t.panel, t.control, cell, &current) == 0
                             ? SetTableCellVal(t.panel, t.control, cell, text)
                         : ParseNumber(text, &numberValue)
                             ? SetTableCellVal(t.panel, t.control, cell, numberValue)
                             : (Fail("cell " + std::to_string(row) + "," + std::to_string(column) +
                                     " of " + t.name + " takes a number"),
                                0);
            if (status < 0) Fail(t.name + ": " + ErrorText(status));
            SetActiveTableCell(t.panel, t.control, cell);
            PostAndWait(t.panel, t.control, EVENT_EDIT_MODE_STATE_CHANGE, 0, row * 65536 + column,
                        "cell " + t.name);
        } else if (verb == "menu") {
            std::string name = NextWord(rest);
            int bar = 0, item = 0;
            if (!detail::FindMenuItemByName(name, &bar, &item)) Fail("no menu item named " + name);
            int dimmed = 0;
            auto itemDimmed = [&] {
                GetMenuBarAttribute(bar, item, ATTR_DIMMED, &dimmed);
                return dimmed != 0;
            };
            if (itemDimmed() && WorkInProgress())
                WaitFor([&] { return !itemDimmed() || !WorkInProgress(); }, timeouts.Real());
            if (itemDimmed()) Fail("menu item " + name + " is dimmed");
            uint64_t seq = detail::PostMenuEventNumbered(bar, item);
            if (!detail::WaitUntilHandled(seq, timeouts.Real()))
                Fail("menu " + name + ": the program did not come back");
        } else if (verb == "close") {
            int panel = PanelNamed(NextWord(rest));
            PostAndWait(panel, 0, EVENT_CLOSE, 0, 0, "close");
        } else if (verb == "answer") {
            std::string kind = NextWord(rest);
            std::string answer = Unquote(rest);
            if (!responder_) Fail("this front-end takes no scripted answers");
            // A folder dialog takes its answer from the same queue as a file dialog.
            if (kind == "file" || kind == "folder") {
                responder_->QueueFileAnswer(answer == "cancel" ? std::nullopt
                                                               : std::optional<std::string>(answer));
            } else if (kind == "popup") {
                if (answer != "yes" && answer != "no") Fail("answer popup takes yes or no");
                responder_->QueueConfirmAnswer(answer == "yes");
            } else {
                Fail("answer takes popup, file or folder");
            }
        } else if (verb == "wait") {
            os::Delay(ParseSeconds(rest));
        } else if (verb == "timeout") {
            timeouts.seconds = ParseSeconds(rest);
        } else if (verb == "expect") {
            std::string what = NextWord(rest);
            if (what == "status") {
                std::string text = Unquote(rest);
                if (!WaitFor([&] { return StatusText().find(text) != std::string::npos; },
                             timeouts.Real()))
                    Fail("the status box never showed \"" + text + "\"");
            } else if (what == "warning") {
                std::string text = Unquote(rest);
                auto shown = [&] {
                    for (const std::string& w : StatusWarnings())
                        if (w.find(text) != std::string::npos) return true;
                    return false;
                };
                if (!WaitFor(shown, timeouts.Real()))
                    Fail("the status box never showed the warning \"" + text + "\"");
            } else if (what == "popup") {
                std::string text = Unquote(rest);
                if (!responder_) Fail("this front-end records no popups");
                size_t found = 0;
                bool seen = WaitFor(
                    [&] {
                        auto popups = responder_->Popups();
                        for (size_t i = popupsSeen; i < popups.size(); ++i)
                            if (popups[i].title.find(text) != std::string::npos ||
                                popups[i].text.find(text) != std::string::npos) {
                                found = i;
                                return true;
                            }
                        return false;
                    },
                    timeouts.Real());
                if (!seen) Fail("no popup showed \"" + text + "\"");
                popupsSeen = found + 1;
            } else if (what == "value") {
                Target t = ControlNamed(NextWord(rest));
                std::string expected = Unquote(rest);
                if (!WaitFor([&] { return ValueMatches(t, expected); }, timeouts.Real()))
                    Fail(t.name + " shows \"" + ValueText(t) + "\", not \"" + expected + "\"");
            } else if (what == "idle") {
                if (!WaitFor([] { return !WorkInProgress(); }, timeouts.Real()))
                    Fail("the program's long work did not end");
            } else {
                Fail("expect takes status, warning, popup, value or idle");
            }
        } else if (verb == "screenshot") {
            std::string path = NextWord(rest);
            if (path.empty()) Fail("screenshot needs a file name");
            int panel = rest.empty() ? detail::FirstDisplayedPanel() : PanelNamed(NextWord(rest));
            if (panel <= 0) Fail("no panel is shown");
            // Let the program draw what is queued before the picture is taken.
            uint64_t seq = detail::PostEventNumbered(0, 0, EVENT_NONE, 0, 0);
            detail::WaitUntilHandled(seq, timeouts.Real());
            FrontEnd* fe = GetFrontEnd();
            std::string error;
            if (!fe || !fe->Screenshot(panel, path, &error))
                std::cout << name_ << ": screenshot " << path << " not taken: " << error << "\n";
            else
                std::cout << name_ << ": screenshot saved to " << path << "\n";
        } else if (verb == "print" && rest == "status") {
            // What the status box gained since the last print.
            std::string text = StatusText();
            if (statusPrinted > text.size()) statusPrinted = 0;
            std::cout << text.substr(statusPrinted);
            if (!text.empty() && text.back() != '\n') std::cout << "\n";
            std::cout.flush();
            statusPrinted = text.size();
        } else if (verb == "echo") {
            std::cout << name_ << ": " << rest << std::endl;
        } else if (verb == "quit") {
            RequestProgramQuit();
            quitIssued_ = true;
            result.quitIssued = true;
        } else {
            Fail("unknown command \"" + verb + "\"");
        }
    } catch (const ScriptError& e) {
        result.ok = false;
        result.message = e.message;
    }
    return result;
}

void RequestProgramQuit(double graceSeconds) {
    auto grace = std::chrono::milliseconds(static_cast<long long>(graceSeconds * 1000));
    int panel = detail::FirstDisplayedPanel();
    if (panel > 0 && detail::PanelHasCloseCallback(panel)) {
        PostEvent(panel, 0, EVENT_CLOSE);
        if (WaitFor([] { return !detail::DispatcherRunning(); }, grace)) return;
    }
    QuitUserInterface(0);
}

}  // namespace ui
