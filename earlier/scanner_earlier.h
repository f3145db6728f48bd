// The one-camera program's scanner: the shared controller code under this
// program's names, with its messages, its seven status lamps, the frame
// counter in the step display and its own monitoring loop.
#pragma once

namespace pelu::earlier {

// Makes the shared scanner code behave as this program's (call once at
// start-up, before the scanner is switched on).
void UseEarlierScanner();

// Binds the library, opens the controller and sets it up for scanning.
// Returns 1 when open, 0 otherwise.
int opendevice();
// Writes PELU.pmc from the templates beside the program and downloads it.
int cmdrun(int count, float step_time, float step, float feedrate, float stroke);

// The monitoring loop of this program (a thread function): reads the stage
// position and the seven status variables and, when the scan asks for a
// frame, takes it with the current camera into the raw buffer. Runs while
// the scanner is accessible; returns 1.
int MonitoringThread();

}  // namespace pelu::earlier
