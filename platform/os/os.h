// Operating-system services of the instrument programs: clocks, the time
// scale, logical Windows paths mapped onto host folders, and the launching of
// the batch files the programs generate.
//
// Every wait and every simulated physical process goes through TimeScale(),
// so that PELU_TIME_SCALE=0.01 runs an observation a hundred times faster
// while the order of events and the requested durations stay as they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace os {

// ---- time scale -----------------------------------------------------------

// Factor applied to every delay: real seconds = requested seconds x scale.
// Read once from PELU_TIME_SCALE (default 1). A value that is not a positive
// finite number is refused with a warning on stderr and 1 is used.
double TimeScale();
// Overrides the time scale (tests). A value <= 0 restores the environment's.
void SetTimeScale(double scale);
// The rule TimeScale() applies to the text of PELU_TIME_SCALE: returns the
// scale it gives. Null, empty or blank text means "not set" (1, valid); text
// that is not a positive finite number gives 1 with *valid false. `valid`
// may be null.
double ParseTimeScale(const char* text, bool* valid);

// Sleeps for `milliseconds` of instrument time (scaled).
void Sleep(double milliseconds);
// Sleeps for `seconds` of instrument time (scaled).
void Delay(double seconds);

// ---- high-resolution counter ------------------------------------------------

// The counter runs in instrument time: counts / frequency gives instrument
// seconds, so elapsed times measured under a time scale read as the durations
// the instrument asked for. Both return false when no counter is available
// (never on Linux; the failure path is kept for the callers' messages).
bool QueryPerformanceFrequency(int64_t* frequency);
bool QueryPerformanceCounter(int64_t* count);

// ---- calendar ---------------------------------------------------------------

struct UtcTime {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;    // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Current UTC calendar time of the host clock (never scaled).
UtcTime UtcNow();

// ---- logical paths ------------------------------------------------------------

// The programs keep paths in their Windows form ("E:\DRAV_Data\2026\...",
// ".\Wv.ini", "Wv.ini"). HostPath maps such a path onto the host:
//  - "X:\rest" goes below the folder of drive X: PELU_DRIVE_X if set,
//    otherwise "<working directory>/drive_X" (X upper case);
//  - a relative path goes below the working directory;
//  - an absolute host path ("/...") is kept as it is.
// Backslashes become slashes. A path whose ".." would climb above its drive
// folder or the working directory is refused: HostPath returns "" then.
std::string HostPath(const std::string& logicalPath);

// Host folder that drive `letter` maps to (see HostPath).
std::string DriveFolder(char letter);
// Maps drive `letter` onto `hostFolder` for this process (tests, scripts);
// an empty folder restores the default.
void SetDriveFolder(char letter, const std::string& hostFolder);

// Current working directory of the process.
std::string WorkingDirectory();
// Folder that holds the running executable (where its resources and
// run-time libraries are).
std::string ExecutableDirectory();

// Creates a logical directory and its missing parents. True when the
// directory exists afterwards.
bool MakeDirectories(const std::string& logicalPath);

// ---- batch files --------------------------------------------------------------

// Launches a batch file the program wrote (its logical path), as the command
// interpreter would, and returns without waiting for anything but the
// commands themselves. Understood commands:
//   mkdir PATH / md PATH   the folder and its missing parents are made;
//   arp ...                address-resolution entries are never executed,
//                          only recorded;
// blank lines and "rem"/"::" comments are skipped; anything else is recorded
// as not executed. Returns false when the file cannot be read.
bool LaunchBatchFile(const std::string& logicalPath);

// One line of the record kept of launched batch files.
struct BatchCommand {
    std::string batchFile;  // logical path as given to LaunchBatchFile
    std::string command;    // the line, as written
    bool executed = false;  // true for commands carried out
};
// Everything launched since the start or the last clear (tests).
std::vector<BatchCommand> LaunchedBatchCommands();
void ClearLaunchedBatchCommands();

}  // namespace os
