// The progress area of the main panel: what long work is doing (a line of
// text), how far it is (the bar) and, inside the bar, its elapsed and
// remaining time. Any part of the program that runs long work reports here;
// the status box keeps the lasting messages.
#pragma once

#include <string>

namespace pelu {

// `what` ("Scan step 27 of 100, repetition 1 of 2"), the fraction done
// (0 to 1) and the elapsed and remaining instrument seconds (negative:
// not known). Called as often as the work likes, from any thread: the panel
// is brought up to date when the text changes and otherwise a few times a
// second.
void ShowProgress(const std::string& what, double fraction, double elapsedSeconds,
                  double remainingSeconds);
// The work is over: `last` stays as the text, the bar empties.
void ClearProgress(const std::string& last);

// "1:05" for 65 s, "1:02:03" past an hour.
std::string DurationText(double seconds);

}  // namespace pelu
