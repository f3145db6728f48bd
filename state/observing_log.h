// The observing log: one text file a day beside the data,
// "<data root>ObservingLog_YYYYMMDD.txt" (UTC day). It holds every line the
// status box shows and every command sent to the scanner and motor
// controllers with the reply, each with a UTC time stamp in microseconds, so
// that an observer can see afterwards what happened and in which order.
// Nothing is logged until the program opens the log.
#pragma once

#include <string>

namespace pelu {

// Starts logging into files below the logical folder `dataRoot` (created when
// missing). False, with a line on stderr, when the folder cannot be used;
// the program then runs without a log.
bool OpenObservingLog(const std::string& dataRoot);
void CloseObservingLog();
// The host path of today's log file, "" while no log is open.
std::string ObservingLogPath();

// A text the status box shows (one log line per line of text).
void LogStatusText(const std::string& text);
// A text the status box shows as a warning.
void LogWarningText(const std::string& text);
// A command to a controller ("scanner", "motor") and its reply; `answered`
// false when the controller gave none.
void LogControllerCommand(const char* device, const std::string& command,
                          const std::string& reply, bool answered);
// A command written to a controller whose reply is not read.
void LogControllerWrite(const char* device, const std::string& command);

}  // namespace pelu
