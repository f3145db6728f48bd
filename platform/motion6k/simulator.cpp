// The simulated motion controller: motion6k.h's calls on an in-process model
// of the controller. Motion is evaluated when asked (no thread of its own):
// a move remembers where it started, where it ends and when, and every query
// computes where the axis is now.
#include "platform/motion6k/simulator.h"
#include "platform/motion6k/simulator_control.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include "platform/motion6k/motion6k.h"
#include "platform/os/os.h"

namespace motion6k {
namespace {

using Clock = std::chrono::steady_clock;

struct AxisModel {
    double from = 0;
    double to = 0;
    Clock::time_point start{};
    double realSeconds = 0;  // duration of the current move
    double positionOffset = 0;
    double encoderOffset = 0;
    long long distance = 0;
    bool drive = false;
    bool homed = false;

    double Steps(Clock::time_point now) const {
        if (realSeconds <= 0) return to;
        const double elapsed = std::chrono::duration<double>(now - start).count();
        if (elapsed >= realSeconds) return to;
        return from + (to - from) * (elapsed / realSeconds);
    }
    bool Moving(Clock::time_point now) const {
        return realSeconds > 0 && std::chrono::duration<double>(now - start).count() < realSeconds;
    }
    void Freeze(Clock::time_point now) {
        from = to = Steps(now);
        realSeconds = 0;
    }
};

struct Controller {
    SimulatorConfig config;
    std::array<AxisModel, kAxisCount> axes{};
    std::string outputs = "0000";
    std::string pendingReply;
    bool open = false;
    bool initialised = false;
    std::map<std::string, std::string> overrides;
    std::vector<std::string> commands;
    std::vector<std::string> calls;

    void PowerUp() {
        axes = {};
        for (int i = 0; i < kAxisCount; ++i) axes[i].from = axes[i].to = config.axes[i].startPosition;
        outputs = "0000";
        pendingReply.clear();
        open = false;
        initialised = false;
    }
};

// The configuration a program starts with: the defaults, changed by
// PELU_6K_ADDRESS and PELU_6K_FAULT (see simulator.h).
SimulatorConfig ConfigFromEnvironment() {
    SimulatorConfig config;
    if (const char* address = std::getenv("PELU_6K_ADDRESS"); address && *address)
        config.address = address;
    const char* faults = std::getenv("PELU_6K_FAULT");
    std::string list = faults ? faults : "";
    size_t begin = 0;
    while (begin <= list.size()) {
        const size_t comma = std::min(list.find(',', begin), list.size());
        const std::string fault = list.substr(begin, comma - begin);
        if (fault == "open_fails") config.openFails = true;
        else if (fault == "init_fails") config.initialiseFails = true;
        else if (fault == "close_fails") config.closeFails = true;
        else if (fault == "silent") config.silent = true;
        else if (fault == "grating_never_stops") config.axis1NeverStops = true;
        else if (!fault.empty())
            std::fprintf(stderr, "PELU_6K_FAULT: unknown fault \"%s\" ignored\n", fault.c_str());
        begin = comma + 1;
    }
    return config;
}

std::mutex g_mutex;
Controller& Ctl() {
    static Controller* controller = [] {
        auto* c = new Controller;
        c->config = ConfigFromEnvironment();
        c->PowerUp();
        return c;
    }();
    return *controller;
}

int Rounded(double steps) {
    const double r = std::round(steps);
    return static_cast<int>(std::clamp(r, -2147483648.0, 2147483647.0));
}

bool AtPositiveLimit(const Controller& c, int axis, double steps) {
    return steps >= c.config.axes[axis].positiveLimit;
}
bool AtNegativeLimit(const Controller& c, int axis, double steps) {
    return steps <= c.config.axes[axis].negativeLimit;
}

// Axis status bits 1-32 as the controller numbers them.
std::array<bool, 33> StatusBits(const Controller& c, int axis, Clock::time_point now) {
    const AxisModel& a = c.axes[axis];
    const double steps = a.Steps(now);
    std::array<bool, 33> bits{};
    bits[1] = a.Moving(now) || (axis == 0 && c.config.axis1NeverStops);
    bits[5] = a.drive;
    bits[9] = a.homed;
    bits[13] = !a.Moving(now) && std::fabs(steps) < 0.5;
    bits[15] = AtPositiveLimit(c, axis, steps);
    bits[16] = AtNegativeLimit(c, axis, steps);
    return bits;
}

std::string StatusText(const std::array<bool, 33>& bits) {
    std::string text;
    for (int k = 1; k <= 32; ++k) {
        text += bits[k] ? '1' : '0';
        if (k % 4 == 0 && k < 32) text += '_';
    }
    return text + "\n";
}

void StartMove(Controller& c, int axis, double target, Clock::time_point now) {
    AxisModel& a = c.axes[axis];
    a.Freeze(now);
    const double here = a.to;
    if (target > here) target = std::min(target, std::max(here, c.config.axes[axis].positiveLimit));
    if (target < here) target = std::max(target, std::min(here, c.config.axes[axis].negativeLimit));
    if (target == here) return;
    const double speed = c.config.stepsPerSecond > 0 ? c.config.stepsPerSecond : 1;
    a.from = here;
    a.to = target;
    a.start = now;
    a.realSeconds = std::fabs(target - here) / speed * os::TimeScale();
}

// Whole text is a (signed) decimal integer that fits 64 bits.
bool ParseInteger(const std::string& text, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return false;
    *value = v;
    return true;
}

// "a,b,c,d" into up to four counter values; empty or "X" fields stay unset.
bool ParseFour(const std::string& text, std::array<std::optional<long long>, kAxisCount>* out) {
    size_t field = 0, begin = 0;
    while (true) {
        if (field >= kAxisCount) return false;
        const size_t comma = text.find(',', begin);
        const std::string part = text.substr(begin, comma == std::string::npos ? std::string::npos
                                                                               : comma - begin);
        long long v = 0;
        if (!part.empty() && part != "X" && part != "x") {
            if (!ParseInteger(part, &v)) return false;
            (*out)[field] = v;
        }
        if (comma == std::string::npos) return true;
        begin = comma + 1;
        ++field;
    }
}

// A pattern of '0', '1' and 'X' applied onto `bits` (at most bits.size()).
bool ApplyPattern(const std::string& pattern, std::string* bits) {
    if (pattern.empty() || pattern.size() > bits->size()) return false;
    for (char ch : pattern)
        if (ch != '0' && ch != '1' && ch != 'X' && ch != 'x') return false;
    for (size_t i = 0; i < pattern.size(); ++i)
        if (pattern[i] == '0' || pattern[i] == '1') (*bits)[i] = pattern[i];
    return true;
}

void Reply(Controller& c, const std::string& query, const std::string& text) {
    auto it = c.overrides.find(query);
    c.pendingReply += it != c.overrides.end() ? it->second : text;
}

// Carries out one command (without its ':'). Returns false for a command the
// controller does not know.
bool Execute(Controller& c, std::string command, Clock::time_point now) {
    if (!command.empty() && command[0] == '!') command.erase(0, 1);
    const std::string query = command;

    if (command.rfind("DRIVE", 0) == 0) {
        std::string enabled;
        for (const AxisModel& a : c.axes) enabled += a.drive ? '1' : '0';
        if (!ApplyPattern(command.substr(5), &enabled)) return false;
        for (int i = 0; i < kAxisCount; ++i) {
            c.axes[i].drive = enabled[i] == '1';
            if (!c.axes[i].drive) c.axes[i].Freeze(now);  // a disabled drive stops its axis
        }
        return true;
    }
    if (command == "SETUP") return true;  // the resident program only restores settings
    if (command == "HOMING") {
        for (int i = 0; i < kAxisCount; ++i) {
            AxisModel& a = c.axes[i];
            if (!a.drive) continue;
            StartMove(c, i, 0, now);
            a.positionOffset = a.encoderOffset = 0;
            a.homed = true;
        }
        return true;
    }
    if (command.rfind("PESET", 0) == 0 || command.rfind("PSET", 0) == 0) {
        const bool encoder = command[1] == 'E';
        std::array<std::optional<long long>, kAxisCount> values{};
        if (!ParseFour(command.substr(encoder ? 5 : 4), &values)) return false;
        for (int i = 0; i < kAxisCount; ++i) {
            if (!values[i]) continue;
            const double here = c.axes[i].Steps(now);
            (encoder ? c.axes[i].encoderOffset : c.axes[i].positionOffset) =
                here - static_cast<double>(*values[i]);
        }
        return true;
    }
    if (command == "S") {
        for (AxisModel& a : c.axes) a.Freeze(now);
        return true;
    }
    if (command.rfind("MC", 0) == 0) {
        std::string modes = "0000";
        return ApplyPattern(command.substr(2), &modes);
    }
    if (command.rfind("OUT", 0) == 0) return ApplyPattern(command.substr(3), &c.outputs);
    if (command == "TOUT") {
        Reply(c, query, c.outputs + "\n");
        return true;
    }

    // Axis commands: a digit 1-4 first.
    if (command.size() < 2 || command[0] < '1' || command[0] > '0' + kAxisCount) return false;
    const int axis = command[0] - '1';
    const std::string rest = command.substr(1);
    AxisModel& a = c.axes[axis];
    if (rest[0] == 'D') {
        long long distance = 0;
        if (!ParseInteger(rest.substr(1), &distance)) return false;
        a.distance = distance;
        return true;
    }
    if (rest == "GO") {
        if (a.drive) StartMove(c, axis, a.Steps(now) + static_cast<double>(a.distance), now);
        return true;
    }
    if (rest == "TAS") {
        Reply(c, query, StatusText(StatusBits(c, axis, now)));
        return true;
    }
    if (rest.rfind("TAS.", 0) == 0) {
        long long bit = 0;
        if (!ParseInteger(rest.substr(4), &bit) || bit < 1 || bit > 32) return false;
        Reply(c, query, StatusBits(c, axis, now)[bit] ? "1\n" : "0\n");
        return true;
    }
    if (rest == "TPE" || rest == "TPC") {
        const double offset = rest == "TPE" ? a.encoderOffset : a.positionOffset;
        Reply(c, query, std::to_string(Rounded(a.Steps(now) - offset)) + "\n");
        return true;
    }
    return false;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

void Configure(const SimulatorConfig& config) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Controller& c = Ctl();
    c.config = config;
    c.PowerUp();
}

SimulatorConfig Configuration() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Ctl().config;
}

void Reset() {
    std::lock_guard<std::mutex> lock(g_mutex);
    Controller& c = Ctl();
    c.config = SimulatorConfig{};
    c.PowerUp();
    c.overrides.clear();
    c.commands.clear();
    c.calls.clear();
}

void OverrideReply(const std::string& query, const std::string& reply) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Ctl().overrides[query] = reply;
}

void ClearReplyOverrides() {
    std::lock_guard<std::mutex> lock(g_mutex);
    Ctl().overrides.clear();
}

std::vector<std::string> Commands() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Ctl().commands;
}

std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Ctl().calls;
}

void ClearTrace() {
    std::lock_guard<std::mutex> lock(g_mutex);
    Ctl().commands.clear();
    Ctl().calls.clear();
}

AxisSnapshot Axis(int axis) {
    std::lock_guard<std::mutex> lock(g_mutex);
    AxisSnapshot s;
    if (axis < 1 || axis > kAxisCount) return s;
    const Controller& c = Ctl();
    const AxisModel& a = c.axes[axis - 1];
    const auto now = Clock::now();
    s.steps = a.Steps(now);
    s.position = Rounded(s.steps - a.positionOffset);
    s.encoder = Rounded(s.steps - a.encoderOffset);
    s.moving = a.Moving(now);
    s.driveEnabled = a.drive;
    s.positiveLimit = AtPositiveLimit(c, axis - 1, s.steps);
    s.negativeLimit = AtNegativeLimit(c, axis - 1, s.steps);
    return s;
}

std::string Outputs() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Ctl().outputs;
}

bool LinkOpen() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Ctl().open;
}

bool LinkInitialised() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Ctl().initialised;
}

}  // namespace motion6k

// ---- the library calls ------------------------------------------------------------------

using motion6k::Ctl;
using motion6k::g_mutex;

extern "C" {

int16_t OLE_Initialize_6KE(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Ctl().calls.push_back("OLE_Initialize_6KE");
    return 1;
}

int16_t Open_6KE(const char* address) {
    std::lock_guard<std::mutex> lock(g_mutex);
    motion6k::Controller& c = Ctl();
    const std::string text = address ? address : "";
    c.calls.push_back("Open_6KE " + text);
    if (c.config.openFails || text.empty() || text != c.config.address) return 0;
    c.open = true;
    c.initialised = false;
    c.pendingReply.clear();
    return 1;
}

int16_t Initialize_6KE(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    motion6k::Controller& c = Ctl();
    c.calls.push_back("Initialize_6KE");
    if (!c.open || c.config.initialiseFails) return 0;
    c.initialised = true;
    return 1;
}

int16_t Write_6KE(const char* command) {
    std::lock_guard<std::mutex> lock(g_mutex);
    motion6k::Controller& c = Ctl();
    const std::string text = command ? command : "";
    c.calls.push_back("Write_6KE " + text);
    c.commands.push_back(text);
    if (!c.open) return 0;
    if (c.config.silent) return 1;
    const auto now = motion6k::Clock::now();
    size_t begin = 0;
    while (begin < text.size()) {
        size_t colon = text.find(':', begin);
        const bool terminated = colon != std::string::npos;
        const std::string one =
            motion6k::Trim(text.substr(begin, terminated ? colon - begin : std::string::npos));
        begin = terminated ? colon + 1 : text.size();
        // A command only counts once its delimiter has arrived.
        if (one.empty() || !terminated) continue;
        if (!motion6k::Execute(c, one, now)) c.pendingReply += "?" + one + "\n";
    }
    return 1;
}

int16_t Read_HS(char* reply, int replySize) {
    std::lock_guard<std::mutex> lock(g_mutex);
    motion6k::Controller& c = Ctl();
    c.calls.push_back("Read_HS");
    if (!reply || replySize <= 0) return 0;
    reply[0] = '\0';
    if (!c.open || c.pendingReply.empty()) return 0;
    const size_t n = std::min(c.pendingReply.size(), static_cast<size_t>(replySize) - 1);
    std::memcpy(reply, c.pendingReply.data(), n);
    reply[n] = '\0';
    c.pendingReply.clear();
    return 1;
}

int16_t Close_6KE(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    motion6k::Controller& c = Ctl();
    c.calls.push_back("Close_6KE");
    if (c.config.closeFails) return 0;
    c.open = false;
    c.initialised = false;
    c.pendingReply.clear();
    return 1;
}

}  // extern "C"

// ---- the simulator's own entry points (absent from a vendor library) --------------------

extern "C" {

const char* PeluDeviceLibraryVersion(void) { return "1.0"; }

const motion6k::SimulatorControl* Motion6kSimulatorControl() {
    static const motion6k::SimulatorControl control{
        motion6k::Configure,     motion6k::Configuration, motion6k::Reset,
        motion6k::OverrideReply, motion6k::ClearReplyOverrides,
        motion6k::Commands,      motion6k::Calls,         motion6k::ClearTrace,
        motion6k::Axis,          motion6k::Outputs,       motion6k::LinkOpen,
        motion6k::LinkInitialised,
    };
    return &control;
}

}  // extern "C"
