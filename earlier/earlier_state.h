// What the one-camera program keeps beside the shared instrument state: one
// camera geometry for whichever camera is current, the kinetic-series length
// of its settings and the temperature watch's stop flag.
//
// The shared subsystems read the per-camera fields of pelu::state (nhDim1,
// g_nXPixels1, ...). This program has one geometry, so the earlier code keeps
// it here and copies it into camera 1's fields of pelu::state whenever it
// changes (SyncSharedGeometry); camera 2's fields stay unused.
#pragma once

#include <atomic>

namespace pelu::earlier {

struct EarlierState {
    std::atomic<int> nhDim{0}, nvDim{0};            // image size after binning
    std::atomic<int> g_nXPixels{0}, g_nYPixels{0};  // detector size of the current camera
    int g_nNumberKinetics1 = 0;                     // kinetic-series length of the settings
    std::atomic<int> temperatureStop{1};            // the temperature watch runs while 0
};

inline EarlierState earlierState;

// Back to the values of program start (tests).
void ResetEarlierState();

// Copies the one geometry into camera 1's fields of the shared state, which
// the shared acquisition and display code read.
void SyncSharedGeometry();

}  // namespace pelu::earlier
