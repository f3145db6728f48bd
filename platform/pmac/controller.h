// The simulated scanner controller behind the library's entry points: one
// scanning stage on motor 1, its amplifier, limit and home flags, I, M and P
// variables, motion program 1 of coordinate system 1 and quick data
// gathering. The stage moves in controller time, which runs `scale` times
// slower than the steady clock (the instrument's time scale), so positions,
// the step counter and the in-position flag evolve as on the telescope.
//
// Every public member may be called from any thread; one lock serialises
// them and nothing sleeps while holding it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace pmac {

// A move of the stage: trapezoidal velocity with `ramp` ms of acceleration at
// each end, from `from` by `distance` counts, starting at `start` and lasting
// `duration` ms (controller time). Before start and after the end it holds.
struct Motion {
    double start = 0, duration = 0, ramp = 0, from = 0, distance = 0;
    double End() const { return start + duration; }
    // Commanded position (counts), velocity (counts/ms) and acceleration at t.
    void At(double t, double* position, double* velocity, double* acceleration) const;
};

// A move to `target` at `speed` counts/ms with `ramp` ms ramps; a short move
// still takes both ramps.
Motion MakeMove(double start, double from, double target, double speed, double ramp);

enum class Fault { None, NoController, AmpUnpowered, NoReply };

class Controller {
public:
    Controller();

    void SetTimeScale(double scale);
    // Simulator configuration and records (see PmacSimulatorCommand).
    bool Configure(const std::string& command, std::string* reply);

    bool Open();
    bool Close();
    bool IsOpen();
    // One command line; false when the controller does not answer.
    bool Command(const std::string& line, std::string* reply);
    bool Download(const std::string& path);
    bool SetQuickGather(uint32_t mask, bool enable);
    bool CollectGather(int32_t* sources, int32_t* samples);
    bool GatherSamples(int source, std::vector<double>* values);
    bool IVariable(int number, int32_t* value);
    // Microseconds of real time that one command takes on the link.
    int ReplyMicroseconds();

private:
    struct Statement {
        enum class Kind { Move, Dwell, Linear, Incremental, Absolute, Accel, SCurve, Feed,
                          While, EndWhile, Assign } kind;
        std::string text;  // the expression or assignment
        size_t match = 0;  // While <-> EndWhile
    };
    enum class Activity { Idle, Jog, JogToLimit, Homing };

    void ResetLocked();
    double Now() const;
    int64_t RealNanoseconds(double controllerMs) const;
    void AdvanceTo(double now);
    void RunProgram(double now);
    void GatherUntil(double t);
    bool Moving(double now) const;
    double Position(double now, bool actual) const;

    bool Execute(const std::string& line, double now, std::string* reply);
    // A plain query of one variable ("m180", "p1") or of the position
    // ("#1P"); false for any other line.
    bool FastQuery(const std::string& line, double now, std::string* reply);
    bool ExecuteToken(const std::string& token, double now, std::string* reply);
    bool ParseProgramLine(const std::string& line, std::vector<Statement>* program);
    bool LinkLoops(std::vector<Statement>* program);
    bool Assign(const std::string& assignment, double when);
    bool Evaluate(const std::string& expression, double* value);
    double Variable(char kind, int number);
    std::string FormatVariable(char kind, int number);

    mutable std::mutex mutex_;
    double scale_ = 1.0;
    std::chrono::steady_clock::time_point realBase_;
    double controllerBase_ = 0;  // controller ms at realBase_

    Fault fault_ = Fault::None;
    int replyMicroseconds_ = 50;
    double startPosition_ = 3000;
    bool open_ = false;
    std::deque<std::string> trace_;

    // Motor 1 (counts; the stage's negative limit lies at limitPosition_).
    double countsPerUnit_ = 10;  // axis definition #1->10X
    double limitPosition_ = -5000;
    Motion motion_;
    Activity activity_ = Activity::Idle;
    bool ampEnabled_ = false;
    bool negativeLimit_ = false;
    bool homeComplete_ = false;

    // Variables.
    std::map<int, double> i_, p_;
    std::map<int, bool> iHex_;
    std::map<int, std::string> mDefinition_;

    // Program 1 of coordinate system 1.
    std::vector<Statement> program_;
    std::vector<Statement> editing_;
    bool programOpen_ = false;
    bool running_ = false;
    size_t pc_ = 0;
    bool incremental_ = false;
    double ta_ = 10, ts_ = 0, feed_ = 1000;  // ms, ms, stage units per second
    double segmentStart_ = 0, segmentEnd_ = 0;
    std::vector<std::pair<int, int64_t>> stepTimes_;  // p1 value, steady-clock ns

    // Quick gathering.
    uint32_t gatherMask_ = 0;
    bool gatherDefined_ = false;
    bool gathering_ = false;
    double gatherNext_ = 0;
    std::vector<double> gathered_[3];
};

}  // namespace pmac
