// The status box of the main panel: the instrument's log on the screen. Every
// subsystem reports its progress and errors here; a text that begins with
// "\n" starts on a fresh line.
#pragma once

#include <string>

namespace pelu {

// Appends `text` to the status box (nothing before the main panel exists).
// A text that would continue a line left open by the one before (it ends
// without a line break, this one starts without) starts on a fresh line.
void ShowStatus(const std::string& text);
// Forgets that the last line is open (a new status box; tests).
void ResetStatusLine();

// A device that could not be switched on: says in the status box which device
// failed, at which step, and what the observer should check; with `popup`
// (unless an earlier box of the same failure has been shown) also in an error
// box.
void ShowSwitchOnFailure(const std::string& device, const std::string& step,
                         const std::string& check, bool popup = true);

// printf-style formatting into a string, never longer than the result needs.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace pelu
