#include "platform/pmac/controller.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <fstream>
#include <regex>
#include <sstream>

namespace pmac {
namespace {

// One servo cycle of the controller in ms.
constexpr double kServoMs = 3703707.0 / 8388608.0;
// Following error of the actual position: counts per (count/ms) of velocity.
constexpr double kLagMs = 0.5;
// Home switch above the negative limit, counts.
constexpr double kHomeAboveLimit = 4000;
// Samples the gather buffer holds (about 60 s at 5 servo cycles a sample).
constexpr size_t kGatherCapacity = 140000;
constexpr size_t kTraceCapacity = 100000;
// Statements a program may run without a move or dwell before it is stopped.
constexpr int kRunawayStatements = 100000;
// Motor 1 I-variables the simulator uses: jog ramp (ms), jog speed and home
// speed (counts/ms), position scale factor.
constexpr int kJogRamp = 121, kJogSpeed = 122, kHomeSpeed = 123, kPositionScale = 108;
constexpr int kGatherPeriod = 19;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Lower case, whitespace removed.
std::string Compact(const std::string& s) {
    std::string out;
    for (char c : s)
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Lower case, runs of whitespace made one space, trimmed.
std::string Normalised(const std::string& s) {
    std::istringstream in(Lower(s));
    std::string word, out;
    while (in >> word) out += (out.empty() ? "" : " ") + word;
    return out;
}

std::string FormatNumber(double v) {
    char text[64];
    if (std::fabs(v) < 1e15 && v == std::floor(v))
        std::snprintf(text, sizeof text, "%.0f", v);
    else
        std::snprintf(text, sizeof text, "%.4f", v);
    return text;
}

// Parses a whole number text ("12", "-3", "$3D").
bool ParseNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    if (text[0] == '$') {
        if (text.size() == 1) return false;
        *value = static_cast<double>(std::strtoll(text.c_str() + 1, &end, 16));
    } else {
        *value = std::strtod(text.c_str(), &end);
    }
    return end != nullptr && *end == '\0' && std::isfinite(*value);
}

// Recursive-descent evaluation of program expressions on a compact text.
class Expression {
public:
    Expression(const std::string& text, std::function<double(char, int)> variable)
        : text_(text), variable_(std::move(variable)) {}
    bool Condition(double* value) {
        double left = 0;
        if (!Sum(&left)) return false;
        std::string op;
        while (pos_ < text_.size() && std::strchr("<>=!", text_[pos_])) op += text_[pos_++];
        if (op.empty()) {
            *value = left;
            return pos_ == text_.size();
        }
        double right = 0;
        if (!Sum(&right) || pos_ != text_.size()) return false;
        if (op == "<") *value = left < right;
        else if (op == ">") *value = left > right;
        else if (op == "=" || op == "==") *value = left == right;
        else if (op == "!=" || op == "<>") *value = left != right;
        else if (op == "<=") *value = left <= right;
        else if (op == ">=") *value = left >= right;
        else return false;
        return true;
    }

private:
    bool Sum(double* value) {
        if (!Product(value)) return false;
        while (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) {
            const char op = text_[pos_++];
            double right = 0;
            if (!Product(&right)) return false;
            *value = op == '+' ? *value + right : *value - right;
        }
        return true;
    }
    bool Product(double* value) {
        if (!Factor(value)) return false;
        while (pos_ < text_.size() && (text_[pos_] == '*' || text_[pos_] == '/')) {
            const char op = text_[pos_++];
            double right = 0;
            if (!Factor(&right)) return false;
            if (op == '/' && right == 0) return false;
            *value = op == '*' ? *value * right : *value / right;
        }
        return true;
    }
    bool Factor(double* value) {
        if (pos_ >= text_.size()) return false;
        const char c = text_[pos_];
        if (c == '-') {
            ++pos_;
            if (!Factor(value)) return false;
            *value = -*value;
            return true;
        }
        if (c == '(') {
            ++pos_;
            if (!Sum(value) || pos_ >= text_.size() || text_[pos_] != ')') return false;
            ++pos_;
            return true;
        }
        if (c == 'p' || c == 'i' || c == 'm' || c == 'q') {
            size_t end = pos_ + 1;
            while (end < text_.size() && std::isdigit(static_cast<unsigned char>(text_[end]))) ++end;
            if (end == pos_ + 1 || end - pos_ > 5) return false;
            *value = variable_(c, std::atoi(text_.c_str() + pos_ + 1));
            pos_ = end;
            return true;
        }
        size_t end = pos_;
        if (c == '$') {
            ++end;
            while (end < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[end]))) ++end;
        } else {
            while (end < text_.size() &&
                   (std::isdigit(static_cast<unsigned char>(text_[end])) || text_[end] == '.'))
                ++end;
        }
        if (!ParseNumber(text_.substr(pos_, end - pos_), value)) return false;
        pos_ = end;
        return true;
    }

    const std::string& text_;
    std::function<double(char, int)> variable_;
    size_t pos_ = 0;
};

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

// ---- motion ---------------------------------------------------------------------------

void Motion::At(double t, double* position, double* velocity, double* acceleration) const {
    *velocity = 0;
    *acceleration = 0;
    if (t <= start || duration <= 0) {
        *position = t <= start ? from : from + distance;
        return;
    }
    const double u = t - start;
    if (u >= duration) {
        *position = from + distance;
        return;
    }
    if (ramp <= 0) {
        *velocity = distance / duration;
        *position = from + *velocity * u;
        return;
    }
    const double peak = distance / (duration - ramp);
    if (u < ramp) {
        *position = from + peak * u * u / (2 * ramp);
        *velocity = peak * u / ramp;
        *acceleration = peak / ramp;
    } else if (u <= duration - ramp) {
        *position = from + peak * (ramp / 2 + (u - ramp));
        *velocity = peak;
    } else {
        const double rest = duration - u;
        *position = from + distance - peak * rest * rest / (2 * ramp);
        *velocity = peak * rest / ramp;
        *acceleration = -peak / ramp;
    }
}

Motion MakeMove(double start, double from, double target, double speed, double ramp) {
    Motion m;
    m.start = start;
    m.from = from;
    m.distance = target - from;
    m.ramp = std::max(ramp, 0.0);
    const double cruise = speed > 0 ? std::fabs(m.distance) / speed : 0;
    m.duration = std::max(cruise, m.ramp) + m.ramp;
    return m;
}

// ---- controller -------------------------------------------------------------------------

Controller::Controller() { ResetLocked(); }

void Controller::ResetLocked() {
    realBase_ = std::chrono::steady_clock::now();
    controllerBase_ = 0;
    open_ = false;
    trace_.clear();
    countsPerUnit_ = 10;
    limitPosition_ = -5000;
    motion_ = Motion{};
    motion_.from = startPosition_;
    activity_ = Activity::Idle;
    ampEnabled_ = negativeLimit_ = homeComplete_ = false;
    i_.clear();
    p_.clear();
    iHex_.clear();
    i_[kPositionScale] = 96;
    i_[kJogRamp] = 50;
    i_[kJogSpeed] = 20;
    i_[kHomeSpeed] = 10;
    i_[kGatherPeriod] = 5;
    mDefinition_.clear();
    // The site's standing definitions of the status bits on the main panel.
    mDefinition_[140] = "y:$814,0";
    mDefinition_[137] = "x:$3d,17";
    mDefinition_[131] = "x:$3d,21";
    program_.clear();
    editing_.clear();
    programOpen_ = running_ = false;
    pc_ = 0;
    stepTimes_.clear();
    gatherMask_ = 0;
    gatherDefined_ = gathering_ = false;
    for (auto& g : gathered_) g.clear();
}

void Controller::SetTimeScale(double scale) {
    std::lock_guard lock(mutex_);
    if (!(scale > 0) || !std::isfinite(scale)) return;
    const auto real = std::chrono::steady_clock::now();
    controllerBase_ = Now();
    realBase_ = real;
    scale_ = scale;
}

double Controller::Now() const {
    const double realMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - realBase_)
            .count();
    return controllerBase_ + realMs / scale_;
}

int64_t Controller::RealNanoseconds(double controllerMs) const {
    const double ns = (controllerMs - controllerBase_) * scale_ * 1e6;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(realBase_.time_since_epoch())
               .count() +
           static_cast<int64_t>(ns);
}

bool Controller::Configure(const std::string& command, std::string* reply) {
    std::lock_guard lock(mutex_);
    std::istringstream in(command);
    std::string verb, argument;
    in >> verb >> argument;
    if (verb == "reset") {
        fault_ = Fault::None;
        ResetLocked();
    } else if (verb == "fault") {
        if (argument == "none") fault_ = Fault::None;
        else if (argument == "no_controller") fault_ = Fault::NoController;
        else if (argument == "amp_unpowered") fault_ = Fault::AmpUnpowered;
        else if (argument == "no_reply") fault_ = Fault::NoReply;
        else return false;
    } else if (verb == "position") {
        double v = 0;
        if (!ParseNumber(argument, &v)) return false;
        startPosition_ = v;
        motion_ = Motion{};
        motion_.from = v;
    } else if (verb == "reply_us") {
        double v = 0;
        if (!ParseNumber(argument, &v) || v < 0 || v > 1e6) return false;
        replyMicroseconds_ = static_cast<int>(v);
    } else if (verb == "trace") {
        reply->clear();
        for (const std::string& line : trace_) *reply += line + "\n";
    } else if (verb == "clear_trace") {
        trace_.clear();
    } else if (verb == "stage") {
        // Where the stage stands now, in counts (the simulated instrument's
        // cameras look through it).
        const double now = Now();
        AdvanceTo(now);
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", Position(now, true));
        *reply = text;
    } else if (verb == "step_times") {
        reply->clear();
        for (auto [step, ns] : stepTimes_)
            *reply += std::to_string(step) + " " + std::to_string(ns) + "\n";
    } else {
        return false;
    }
    return true;
}

int Controller::ReplyMicroseconds() {
    std::lock_guard lock(mutex_);
    return replyMicroseconds_;
}

bool Controller::Open() {
    std::lock_guard lock(mutex_);
    trace_.push_back("<open>");
    if (fault_ == Fault::NoController) return false;
    open_ = true;
    return true;
}

bool Controller::Close() {
    std::lock_guard lock(mutex_);
    trace_.push_back("<close>");
    const bool was = open_;
    open_ = false;
    return was;
}

bool Controller::IsOpen() {
    std::lock_guard lock(mutex_);
    return open_;
}

bool Controller::Command(const std::string& line, std::string* reply) {
    std::lock_guard lock(mutex_);
    reply->clear();
    if (trace_.size() >= kTraceCapacity) trace_.pop_front();
    trace_.push_back(line);
    if (!open_ || fault_ == Fault::NoReply) return false;
    const double now = Now();
    AdvanceTo(now);
    if (!Execute(line, now, reply)) *reply = "ERR003";
    return true;
}

// ---- time ---------------------------------------------------------------------------------

bool Controller::Moving(double now) const {
    return activity_ != Activity::Idle || now < motion_.End();
}

double Controller::Position(double now, bool actual) const {
    double position = 0, velocity = 0, acceleration = 0;
    motion_.At(now, &position, &velocity, &acceleration);
    return actual ? position - kLagMs * velocity : position;
}

void Controller::AdvanceTo(double now) {
    if ((activity_ == Activity::JogToLimit || activity_ == Activity::Homing) &&
        now >= motion_.End()) {
        GatherUntil(motion_.End());
        if (activity_ == Activity::JogToLimit) {
            negativeLimit_ = true;
        } else {
            // The home position becomes zero.
            const double homed = motion_.from + motion_.distance;
            limitPosition_ -= homed;
            const double end = motion_.End();
            motion_ = Motion{};
            motion_.start = end;
            homeComplete_ = true;
        }
        activity_ = Activity::Idle;
    } else if (activity_ == Activity::Jog && now >= motion_.End()) {
        activity_ = Activity::Idle;
    }
    if (running_) RunProgram(now);
    GatherUntil(now);
}

void Controller::RunProgram(double now) {
    int statements = 0;
    while (running_) {
        if (pc_ >= program_.size()) {
            if (now >= segmentEnd_) running_ = false;
            return;
        }
        Statement& s = program_[pc_];
        if (s.kind == Statement::Kind::Move || s.kind == Statement::Kind::Dwell) {
            if (now < segmentEnd_) return;
            double value = 0;
            if (!Evaluate(s.text, &value)) {
                running_ = false;
                return;
            }
            const double start = segmentEnd_;
            GatherUntil(start);
            segmentStart_ = start;
            if (s.kind == Statement::Kind::Move) {
                const double from = motion_.from + motion_.distance;
                const double target =
                    incremental_ ? from + value * countsPerUnit_ : value * countsPerUnit_;
                motion_ = MakeMove(start, from, target, feed_ * countsPerUnit_ / 1000.0,
                                   std::max(ta_, 2 * ts_));
                segmentEnd_ = motion_.End();
            } else {
                segmentEnd_ = start + std::max(value, 0.0);
            }
            statements = 0;
            ++pc_;
            continue;
        }
        // Calculations run ahead of the motion: they happen as the segment
        // in progress starts (its dwell or move).
        if (++statements > kRunawayStatements) {
            running_ = false;
            return;
        }
        double value = 0;
        switch (s.kind) {
            case Statement::Kind::Incremental: incremental_ = true; break;
            case Statement::Kind::Absolute: incremental_ = false; break;
            case Statement::Kind::Linear: break;
            case Statement::Kind::Accel:
            case Statement::Kind::SCurve:
            case Statement::Kind::Feed:
                if (!Evaluate(s.text, &value)) {
                    running_ = false;
                    return;
                }
                if (s.kind == Statement::Kind::Accel) ta_ = std::max(value, 0.0);
                if (s.kind == Statement::Kind::SCurve) ts_ = std::max(value, 0.0);
                if (s.kind == Statement::Kind::Feed && value > 0) feed_ = value;
                break;
            case Statement::Kind::While:
                if (!Evaluate(s.text, &value)) {
                    running_ = false;
                    return;
                }
                if (value == 0) {
                    pc_ = s.match + 1;
                    continue;
                }
                break;
            case Statement::Kind::EndWhile:
                pc_ = s.match;
                continue;
            case Statement::Kind::Assign:
                if (!Assign(s.text, segmentStart_)) {
                    running_ = false;
                    return;
                }
                break;
            default: break;
        }
        ++pc_;
    }
}

void Controller::GatherUntil(double t) {
    if (!gathering_) return;
    const double period = std::max(1.0, Variable('i', kGatherPeriod)) * kServoMs;
    const double scale = 32.0 * Variable('i', kPositionScale);
    while (gatherNext_ <= t) {
        if (gathered_[0].size() >= kGatherCapacity) {
            gathering_ = false;  // buffer full
            return;
        }
        double position = 0, velocity = 0, acceleration = 0;
        motion_.At(gatherNext_, &position, &velocity, &acceleration);
        gathered_[0].push_back(position * scale);
        gathered_[1].push_back((position - kLagMs * velocity) * scale);
        // DAC in 1/256 bit: velocity feed-forward plus acceleration.
        gathered_[2].push_back(256.0 * (300.0 * velocity + 20000.0 * acceleration));
        gatherNext_ += period;
    }
}

// ---- variables ---------------------------------------------------------------------------

double Controller::Variable(char kind, int number) {
    if (kind == 'i') {
        auto it = i_.find(number);
        return it == i_.end() ? 0 : it->second;
    }
    if (kind == 'p' || kind == 'q') {
        auto it = p_.find(number);
        return it == p_.end() ? 0 : it->second;
    }
    if (kind != 'm') return 0;
    auto it = mDefinition_.find(number);
    if (it == mDefinition_.end()) return 0;
    const double now = Now();
    const std::string& address = it->second;
    const bool powered = fault_ != Fault::AmpUnpowered;
    if (address == "x:$3d,18") return powered ? 0 : 1;
    if (address == "y:$814,14") return powered && ampEnabled_ ? 1 : 0;
    if (address == "x:$3d,22") return negativeLimit_ ? 1 : 0;
    if (address == "y:$814,10") return homeComplete_ ? 1 : 0;
    if (address == "x:$818,0") return running_ ? 1 : 0;
    if (address == "y:$814,0") return Moving(now) ? 0 : 1;
    if (address == "x:$3d,17") return Moving(now) ? 0 : 1;
    return 0;  // x:$3d,21 positive limit, and anything not wired
}

std::string Controller::FormatVariable(char kind, int number) {
    const double v = Variable(kind, number);
    if (kind == 'i' && iHex_[number]) {
        char text[32];
        std::snprintf(text, sizeof text, "$%llX", static_cast<unsigned long long>(v));
        return text;
    }
    return FormatNumber(v);
}

bool Controller::Evaluate(const std::string& expression, double* value) {
    Expression e(expression, [this](char kind, int number) { return Variable(kind, number); });
    return e.Condition(value);
}

bool Controller::Assign(const std::string& assignment, double when) {
    static const std::regex form(R"(([ipq])(\d{1,4})=(.+))");
    std::smatch m;
    if (!std::regex_match(assignment, m, form)) return false;
    const char kind = m[1].str()[0];
    const int number = std::atoi(m[2].str().c_str());
    double value = 0;
    if (!Evaluate(m[3].str(), &value)) return false;
    if (kind == 'i') {
        i_[number] = value;
        iHex_[number] = m[3].str()[0] == '$';
    } else {
        p_[number] = value;
        if (number == 1 && kind == 'p')
            stepTimes_.emplace_back(static_cast<int>(value), RealNanoseconds(when));
    }
    return true;
}

// ---- commands -----------------------------------------------------------------------------

bool Controller::FastQuery(const std::string& line, double now, std::string* reply) {
    size_t begin = 0, end = line.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(line[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(line[end - 1]))) --end;
    const size_t length = end - begin;
    const auto at = [&](size_t i) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(line[begin + i])));
    };
    if (length == 3 && at(0) == '#' && at(1) == '1' && at(2) == 'p') {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", Position(now, true));
        *reply = text;
        return true;
    }
    if (length < 2 || length > 5 || std::strchr("ipmq", at(0)) == nullptr) return false;
    int number = 0;
    for (size_t i = 1; i < length; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(at(i)))) return false;
        number = number * 10 + (at(i) - '0');
    }
    *reply = FormatVariable(at(0), number);
    return true;
}

bool Controller::Execute(const std::string& line, double now, std::string* reply) {
    // The variable and position queries a host polls many times a second
    // are answered without the general parser (same answers, less work).
    if (!programOpen_ && FastQuery(line, now, reply)) return true;
    const std::string words = Normalised(line);
    const std::string compact = Compact(line);
    if (compact.empty()) return true;
    if (programOpen_) {
        if (compact == "close") {
            programOpen_ = false;
            if (!LinkLoops(&editing_)) return false;
            program_ = editing_;
            return true;
        }
        return ParseProgramLine(compact, &editing_);
    }
    if (words == "close") return true;
    if (words == "open prog 1") {
        if (running_) return false;
        programOpen_ = true;
        editing_ = program_;
        return true;
    }
    if (words == "def gat") {
        gatherDefined_ = true;
        for (auto& g : gathered_) g.clear();
        return true;
    }
    if (words == "del gat") {
        gatherDefined_ = gathering_ = false;
        for (auto& g : gathered_) g.clear();
        return true;
    }
    if (words == "end gat") {
        GatherUntil(now);
        gathering_ = false;
        return true;
    }
    static const std::regex definition(R"(m(\d{1,4})->([xy]:\$[0-9a-f]+,\d+))");
    static const std::regex assignment(R"([ipq]\d{1,4}=.+)");
    static const std::regex query(R"(([ipmq])(\d{1,4}))");
    std::smatch m;
    if (std::regex_match(compact, m, definition)) {
        mDefinition_[std::atoi(m[1].str().c_str())] = m[2].str();
        return true;
    }
    if (std::regex_match(compact, assignment)) return Assign(compact, now);
    if (std::regex_match(compact, m, query)) {
        *reply = FormatVariable(m[1].str()[0], std::atoi(m[2].str().c_str()));
        return true;
    }
    std::istringstream in(words);
    std::string token;
    while (in >> token)
        if (!ExecuteToken(token, now, reply)) return false;
    return true;
}

bool Controller::ExecuteToken(const std::string& token, double now, std::string* reply) {
    std::string t = token;
    if (StartsWith(t, "#1")) {
        t = t.substr(2);
        if (StartsWith(t, "->") && t.size() > 3 && t.back() == 'x') {
            double v = 0;
            if (!ParseNumber(t.substr(2, t.size() - 3), &v) || v <= 0) return false;
            countsPerUnit_ = v;
            return true;
        }
        if (t.empty()) return true;
    }
    if (t == "&1" || t == "b1") return true;
    if (t == "gat") {
        if (!gatherDefined_) return false;
        gathering_ = true;
        gatherNext_ = now;
        return true;
    }
    if (t == "r") {
        if (program_.empty() || running_) return false;
        running_ = true;
        pc_ = 0;
        incremental_ = false;
        segmentStart_ = segmentEnd_ = std::max(now, motion_.End());
        RunProgram(now);
        return true;
    }
    if (t == "p") {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", Position(now, true));
        *reply = text;
        return true;
    }
    if (t == "o0") {
        ampEnabled_ = fault_ != Fault::AmpUnpowered;
        return true;
    }
    if (t == "a") {
        // Abort: the motion program ends and the stage stops where it is;
        // the amplifier stays on.
        running_ = false;
        activity_ = Activity::Idle;
        const double here = Position(now, false);
        motion_ = Motion{};
        motion_.start = now;
        motion_.from = here;
        return true;
    }
    if (t == "k") {
        ampEnabled_ = false;
        running_ = false;
        activity_ = Activity::Idle;
        const double here = Position(now, false);
        motion_ = Motion{};
        motion_.start = now;
        motion_.from = here;
        return true;
    }
    if (running_) return t == "j/";  // jogs are refused while the program moves the motor
    const double here = Position(now, false);
    const double speed = Variable('i', kJogSpeed), ramp = Variable('i', kJogRamp);
    if (t == "j/") {
        if (Moving(now)) {
            motion_ = Motion{};
            motion_.start = now;
            motion_.from = here;
            activity_ = Activity::Idle;
        }
        return true;
    }
    if (!ampEnabled_) return true;  // an amplifier that is off moves nothing
    if (t == "j-") {
        motion_ = MakeMove(now, here, limitPosition_, speed, ramp);
        activity_ = Activity::JogToLimit;
        return true;
    }
    if (t == "hm") {
        motion_ = MakeMove(now, here, limitPosition_ + kHomeAboveLimit,
                           Variable('i', kHomeSpeed), ramp);
        negativeLimit_ = false;
        activity_ = Activity::Homing;
        return true;
    }
    if (t == "hmz") {
        limitPosition_ -= here;
        motion_ = Motion{};
        motion_.start = now;
        activity_ = Activity::Idle;
        homeComplete_ = true;
        return true;
    }
    if (StartsWith(t, "j=")) {
        double target = 0;
        if (!ParseNumber(t.substr(2), &target)) return false;
        target = std::max(target, limitPosition_);
        motion_ = MakeMove(now, here, target, speed, ramp);
        negativeLimit_ = target <= limitPosition_;
        activity_ = Activity::Jog;
        return true;
    }
    return false;
}

// ---- programs -----------------------------------------------------------------------------

bool Controller::ParseProgramLine(const std::string& line, std::vector<Statement>* program) {
    using Kind = Statement::Kind;
    auto add = [&](Kind kind, std::string text) {
        program->push_back(Statement{kind, std::move(text), 0});
        return true;
    };
    if (line == "clear") {
        program->clear();
        return true;
    }
    if (line == "inc") return add(Kind::Incremental, "");
    if (line == "abs") return add(Kind::Absolute, "");
    if (line == "linear") return add(Kind::Linear, "");
    if (line == "endwhile") return add(Kind::EndWhile, "");
    // Operands of motion statements are expressions of numbers and variables.
    static const std::regex operand(R"([-+*/().0-9$a-fimpq]+)");
    auto withOperand = [&](Kind kind, const std::string& text) {
        return std::regex_match(text, operand) && add(kind, text);
    };
    if (StartsWith(line, "while(") && line.back() == ')')
        return add(Kind::While, line.substr(6, line.size() - 7));
    if (StartsWith(line, "dwell")) return withOperand(Kind::Dwell, line.substr(5));
    if (StartsWith(line, "ta")) return withOperand(Kind::Accel, line.substr(2));
    if (StartsWith(line, "ts")) return withOperand(Kind::SCurve, line.substr(2));
    if (line[0] == 'f') return withOperand(Kind::Feed, line.substr(1));
    if (line[0] == 'x') return withOperand(Kind::Move, line.substr(1));
    static const std::regex assignment(R"([ipq]\d{1,4}=.+)");
    if (std::regex_match(line, assignment)) return add(Kind::Assign, line);
    return false;
}

bool Controller::LinkLoops(std::vector<Statement>* program) {
    std::vector<size_t> open;
    for (size_t i = 0; i < program->size(); ++i) {
        Statement& s = (*program)[i];
        if (s.kind == Statement::Kind::While) open.push_back(i);
        if (s.kind == Statement::Kind::EndWhile) {
            if (open.empty()) return false;
            s.match = open.back();
            (*program)[open.back()].match = i;
            open.pop_back();
        }
    }
    return open.empty();
}

bool Controller::Download(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    {
        std::lock_guard lock(mutex_);
        trace_.push_back("<download " + path + ">");
        if (!open_ || !file) return false;
    }
    bool ok = true;
    std::string line;
    int lines = 0;
    // Program files are small; a file of more lines is not a program.
    while (std::getline(file, line) && ++lines <= 100000) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t comment = line.find(';');
        if (comment != std::string::npos) line.erase(comment);
        if (line.size() > 255) {
            ok = false;
            continue;
        }
        std::lock_guard lock(mutex_);
        const double now = Now();
        AdvanceTo(now);
        std::string reply;
        if (!Execute(line, now, &reply)) ok = false;
    }
    std::lock_guard lock(mutex_);
    if (programOpen_) {  // an unclosed buffer is dropped
        programOpen_ = false;
        ok = false;
    }
    return ok && lines <= 100000;
}

// ---- gathering ----------------------------------------------------------------------------

bool Controller::SetQuickGather(uint32_t mask, bool enable) {
    std::lock_guard lock(mutex_);
    trace_.push_back("<set quick gather>");
    if (!open_ || fault_ == Fault::NoReply) return false;
    gatherMask_ = enable ? mask : 0;
    return true;
}

bool Controller::CollectGather(int32_t* sources, int32_t* samples) {
    std::lock_guard lock(mutex_);
    trace_.push_back("<collect gather>");
    if (!open_ || fault_ == Fault::NoReply || !gatherDefined_ || gatherMask_ == 0) return false;
    AdvanceTo(Now());
    gathering_ = false;
    int n = 0;
    for (uint32_t bit : {0x1u, 0x100u, 0x10000u})
        if (gatherMask_ & bit) ++n;
    *sources = n;
    *samples = static_cast<int32_t>(gathered_[0].size());
    return true;
}

bool Controller::GatherSamples(int source, std::vector<double>* values) {
    std::lock_guard lock(mutex_);
    if (!open_ || source < 0 || source > 2 || !gatherDefined_) return false;
    *values = gathered_[source];
    return true;
}

bool Controller::IVariable(int number, int32_t* value) {
    std::lock_guard lock(mutex_);
    if (!open_ || fault_ == Fault::NoReply || i_.find(number) == i_.end()) return false;
    *value = static_cast<int32_t>(i_[number]);
    return true;
}

}  // namespace pmac
