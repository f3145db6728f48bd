// Times one file write with the shared marks and shows how long it took.
#pragma once

namespace pelu {

class SaveTimer {
public:
    // Checks for the high-resolution counter (popup when there is none) and
    // marks the start.
    SaveTimer();
    // Marks the end; returns the seconds in between.
    float Stop();
    // "%.3f Sec\n" in the main panel's save-time indicator.
    void ShowOnMainPanel();
    // The same text appended to the status box.
    void ShowInStatusBox();
};

}  // namespace pelu
