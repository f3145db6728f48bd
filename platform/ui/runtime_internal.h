// Run-time internals shared with the script runner and the tests.
#pragma once

#include <chrono>
#include <cstdint>

namespace ui::detail {

// PostEvent / PostMenuEvent that return the event's sequence number.
uint64_t PostEventNumbered(int panel, int control, int event, int data1, int data2);
uint64_t PostMenuEventNumbered(int menuBar, int item);
// Waits until event `seq` has been dispatched and the dispatcher is idle
// again (waiting for events, possibly inside a callback that waits for the
// user or a thread function). False on time-out.
bool WaitUntilHandled(uint64_t seq, std::chrono::milliseconds timeout);
// True while some thread runs RunUserInterface.
bool DispatcherRunning();
// The first panel that was displayed and still exists (the main panel), or 0.
int FirstDisplayedPanel();
bool PanelHasCloseCallback(int panel);

}  // namespace ui::detail

#include <string>

namespace ui::detail {
// Finds a menu item by its name ("EXIT"), or by menu bar or menu and item
// name ("MENUBAR.EXIT", "FILE.EXIT"), among the loaded menu bars.
bool FindMenuItemByName(const std::string& name, int* menuBar, int* item);
// True for controls the resource marks as indicators (read-only for the user).
bool ControlIsIndicator(int panel, int control);
}  // namespace ui::detail
