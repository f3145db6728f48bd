// The scanner: the connection with the stage's motion controller, the
// amplifier-on and homing sequence, the position and status reads of the
// monitoring loop, the scan motion programs and the quick-gather upload.
//
// The user-interface thread and the monitoring thread both talk to the
// controller. Every call into the library goes through PmacCommand (or the
// guarded calls inside this subsystem), which counts the calls in flight, so
// that CloseDevice can wait until no thread is inside the library before it
// closes the connection and releases the library.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "scanner/globals.h"

namespace pelu {

// Controller counts per stage unit (the position display divides by it).
inline constexpr double kCountsPerUnit = 10.0;

// A time limit of `instrumentSeconds` as instrument milliseconds, never less
// than ten seconds of host time: a loaded host (or a fast time scale) must
// not make a healthy stage or camera look hung.
double TimeLimitMs(double instrumentSeconds);

// Controller replies as numbers: the decimal value a reply begins with (what
// follows it, such as the closing carriage return, is ignored). False for a
// reply without a number and for one out of range: an integer beyond int,
// a number that is not finite or beyond kMaxReplyMagnitude (far past any
// position of the stage, and still a float when divided into stage units).
inline constexpr double kMaxReplyMagnitude = 1e15;
bool ParseReplyNumber(const std::string& reply, double* value);
bool ParseReplyInteger(const std::string& reply, int* value);

// The text written when an action needs the controller and it is not open.
inline constexpr const char* kScannerNotConnected = "\nScanner is not connected.\n";

// One controller variable that the monitoring loop reads and the lamp of the
// main panel that shows it.
struct MonitoredVariable {
    const char* variable;
    int lamp;
};

// What the two programs do differently with the same controller: their
// messages, the unpowered-amplifier box, which variables light which lamps,
// what the step display shows during a step scan, and the folder of the
// scan program files. Set once at start-up, before the scanner is used.
struct ScannerEdition {
    const char* scriptGenerated = "\nScript was generated.\n";
    const char* scanStarted = "\nStarting Scan.\n";
    const char* scanFinished = "\nScanning complete.\n";
    // Step scans show the frames requested so far instead of the program's
    // step counter.
    bool stepDisplayShowsFrames = false;
    const MonitoredVariable* monitored = nullptr;  // the program's lamps
    int monitoredCount = 0;
    // Folder of pelu.head, pelu.tail and PELU.pmc; empty: the working folder.
    std::string (*programFolder)() = nullptr;
};

// The variables and lamps of PELU_dbg's main panel.
const ScannerEdition& DefaultScannerEdition();
// Chooses the program's edition (DefaultScannerEdition until called).
void SetScannerEdition(const ScannerEdition& edition);
const ScannerEdition& CurrentScannerEdition();

// ---- connection ------------------------------------------------------------------

// Binds the library, opens the controller and sets it up for scanning.
// Returns 1 when the controller is open, 0 otherwise (message shown).
int ScanOpen();
// Ends the monitoring loop's access, waits until no thread is inside the
// library, closes the controller and releases the library.
void CloseDevice();
// True while the controller is open and usable.
bool ScannerConnected();

// Sends one command line. False, with an empty reply, when the scanner is
// not connected or the controller did not answer.
bool PmacCommand(const std::string& command, std::string* reply);
// The same for the reads a loop repeats many times a second (position,
// status bits, the program's running bit and step counter), without a line
// in the observing log: the caller hands the reply to LogPollReply when it
// is done with what the reply is needed for, so that a frame request never
// waits for the log.
bool PmacPoll(const char* command, std::string* reply);
// Logs a polled reply (`answered` false: none came) when it differs from the
// one logged last for the same command: the log keeps every change, not
// every poll.
void LogPollReply(const char* command, const std::string& reply, bool answered = true);

// One step of the amp-on sequence.
void ampon_timer();
// Timer callback of the main panel's amplifier timer.
int Ampon_timer(int panel, int control, int event, void* data, int eventData1, int eventData2);

// Sends a command and writes the reply to the status box.
void getresponse(const std::string& command);
// Reads motor 1's position into `scanner.position` and `scanpos` and shows it.
// False (the last reading standing) when there was no reading.
bool ReadPosition();
// Reads motor 1's position into `scanner.position` and `scanpos` only (no display,
// no log line); `reply`, when given, receives the controller's reply.
bool QueryPosition(std::string* reply = nullptr);
// Reads the in-position flag and the status bits and shows them.
void Monitor();

// ---- scan programs ---------------------------------------------------------------

// Writes PELU.pmc from the site templates pelu.head and pelu.tail and the
// step-mode and/or continuous-mode block, then downloads it. Returns 1 when
// the program was written. A program that cannot be written whole (a
// template unreadable, PELU.pmc not writable) is reported, not downloaded,
// and returns 0; until a program is written and downloaded again, scans are
// refused with the reason, as when the controller refused the download.
int ScanCommandWrite(int count, float step_time, float step, float feedrate, float stroke);
// Downloads the program file at `path` (a logical path).
void OpenScript(const std::string& path);
// Starts the downloaded program with gathering and signals every scan
// position reached through `take`/`Scanpos_CCDframe`. Returns 1 when the
// program has finished and its last frame has been taken, 0 when gathering
// could not be set up or the scanner is not connected. The run passes the
// camera and the take mode it scans for; the monitoring thread decides by
// `pelu_take_mode` which cameras take the frames.
// A scan ends early, returning 0 with the stage halted and the frames taken
// left in place (g_nStepsTaken of them), when the observer presses Stop or
// quits (`runStop`), or when the program runs past twice its own duration
// plus 30 s (an hour when that is unknown).
// Its waits dispatch the user's events when called on the dispatch thread,
// so the window answers during the scan; `whilePolling`, when set, is called
// after every poll with the steps signalled so far and the steps planned.
int ExecuteProgram(int cameraHandle = 0, int takeMode = 0);
using ScanPollHook = void (*)(int stepsSignalled, int stepsPlanned);
void SetScanPollHook(ScanPollHook whilePolling);

// ---- quick gather ----------------------------------------------------------------

// Fetches the gathered servo data, plots actual position against time in red
// on the main panel's graph and, with save = 1, writes GatherResult.txt.
// Returns 1, or 0 when the data is unavailable or the file cannot be written.
int UploadQuickGather(int save);

// Back to program start (tests): globals reset, library released.
void ResetScanner();
// Forgets the program written last (part of ResetScanner).
void ResetScanProgram();

}  // namespace pelu
