// What the shells of both programs share: loading their panels and the run
// of the main panel.
#pragma once

namespace pelu {

// Loads panel `resource` of `resourceFile` into *handle. On failure says why
// on stderr as "<program>: <reason>" (the window cannot show it) and returns
// false.
bool LoadProgramPanel(const char* program, const char* resourceFile, int resource, int* handle);

// Runs the event loop until the program quits, then discards the main panel
// and closes the observing log. Returns 0.
int RunMainPanel();

}  // namespace pelu
