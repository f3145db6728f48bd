// The simulated motion controller behind motion6k.h: its configuration, its
// faults and the record of everything it was sent (tests and demos).
//
// The controller has four axes. Each has a position counter and an encoder
// (both read the axis position minus an offset that "PSET"/"PESET" set), a
// drive that must be enabled for the axis to move, and a positive and a
// negative limit switch at configurable positions; a move stops at the
// switch it runs into and the switch stays active while the axis stands on
// or beyond it. Positions are motor steps from the axis's home. Moves run at
// one speed and take |distance| / speed seconds of instrument time, so they
// follow os::TimeScale() like every other wait of the programs.
//
// Commands understood (one write may carry several, each ending with ':';
// a leading '!' marks an immediate command; blanks before ':' are ignored):
//   DRIVEabcd        drive enable of axes 1-4: '1' on, '0' off, 'X' unchanged
//   SETUP            runs the resident set-up program (restores the speed)
//   HOMING           runs the resident homing program: every enabled axis
//                    drives to its home (position 0) and its counters read 0
//   PSETa,b,c,d      sets the position counters (empty or 'X' = unchanged)
//   PESETa,b,c,d     sets the encoder positions (empty or 'X' = unchanged)
//   nDv / nD-v       distance of axis n for its next GO
//   nGO              starts the relative move of axis n by its distance
//   S                stops all motion at once
//   MCabcd           continuous-mode flags: accepted, no effect on moves
//   OUTabcd          output pattern ('0', '1', 'X' unchanged); output 1 first
//   nTAS             axis status, replied as 32 bits in groups of four
//                    separated by '_' and a line feed (bit k at character
//                    k - 1 + (k - 1) / 4). Bits: 1 moving, 5 drive enabled,
//                    9 homed, 13 at home, 15 positive limit switch active,
//                    16 negative limit switch active; the others are 0.
//   nTAS.k           bit k of the axis status: "0\n" or "1\n"
//   nTPE / nTPC      encoder / position counter: a decimal integer and "\n"
//   TOUT             the output pattern and "\n"
// Anything else is answered "?" + the command + "\n" and changes nothing.
// A write with the link closed is refused (recorded, not acted on).
#pragma once

#include <array>
#include <string>
#include <vector>

namespace motion6k {

constexpr int kAxisCount = 4;

struct AxisConfig {
    double startPosition = 0;       // where the axis stands when the controller powers up
    double positiveLimit = 100000;  // position of the positive limit switch
    double negativeLimit = -100000; // position of the negative limit switch
};

struct SimulatorConfig {
    // The address Open_6KE accepts: whatever IPaddr.ini names as the
    // controller. Nothing goes on the network; the controller is in-process.
    std::string address = "127.0.0.60";
    double stepsPerSecond = 20000;  // every axis, instrument time
    // Axis 1 is the grating: a long travel with its negative switch just
    // below the parking position the programs use.
    std::array<AxisConfig, kAxisCount> axes = {{
        {12345, 600000, -60000},
        {-2500, 100000, -100000},
        {800, 100000, -100000},
        {0, 100000, -100000},
    }};

    // ---- faults
    bool openFails = false;        // Open_6KE returns 0
    bool initialiseFails = false;  // Initialize_6KE returns 0
    bool closeFails = false;       // Close_6KE returns 0 and the link stays open
    bool silent = false;           // the controller takes writes but neither acts nor replies
    bool axis1NeverStops = false;  // axis 1's moving bit stays set after its moves end
};

// A program starts with the defaults below, changed by two environment
// variables read at the first library call:
//   PELU_6K_ADDRESS=a.b.c.d   the address the controller answers at;
//   PELU_6K_FAULT=LIST        comma-separated faults: open_fails, init_fails,
//                             close_fails, silent, grating_never_stops.

// The simulator lives in its own shared library (libpelu_6k.so); these
// functions reach it there (simulator_client.cpp), in the library the motors
// would load (a site's library only once it is loaded) or else the one
// beside the programs. False when there is none: the functions below then
// do nothing.
bool SimulatorPresent();

// Powers the controller up afresh with `config`: link closed, axes at their
// start positions with drives off, outputs "0000", no reply pending. The
// trace and the reply overrides are kept.
void Configure(const SimulatorConfig& config);
SimulatorConfig Configuration();
// Default configuration, empty trace, no overrides.
void Reset();

// Garbage from the controller: the reply to `query` (the command text
// without ':' and '!', e.g. "1TPE") becomes `reply` until cleared.
void OverrideReply(const std::string& query, const std::string& reply);
void ClearReplyOverrides();

// ---- what the controller was sent

// Every Write_6KE text, in order, as written (also those a closed link refused).
std::vector<std::string> Commands();
// Every library call in order: "OLE_Initialize_6KE", "Open_6KE <address>",
// "Initialize_6KE", "Write_6KE <text>", "Read_HS", "Close_6KE".
std::vector<std::string> Calls();
void ClearTrace();

// ---- what the controller holds now

struct AxisSnapshot {
    int position = 0;  // position counter
    int encoder = 0;
    double steps = 0;  // true position, steps from home
    bool moving = false;
    bool driveEnabled = false;
    bool positiveLimit = false;
    bool negativeLimit = false;
};
AxisSnapshot Axis(int axis);  // 1-4
std::string Outputs();        // output pattern, output 1 first
bool LinkOpen();
bool LinkInitialised();

}  // namespace motion6k
