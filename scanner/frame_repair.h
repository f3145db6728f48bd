// The frames of a scan that were exposed off their step, and their retaking
// once the scan program has ended: the stage is moved to the frame's step
// with ordinary controller commands, the frame is taken again while it stands
// there, and its record says it was retaken. A series therefore holds only
// frames taken in place, or frames its frame table flags as late.
#pragma once

#include <functional>

#include "state/frame_record.h"

namespace pelu {

// The geometry of the scan just run.
struct ScanGeometry {
    int mode = 0;             // 0 step mode, 1 continuous mode
    int frames = 0;           // frames of the series
    double startUnits = 0.0;  // stage position when the program started, stage units
    double stepUnits = 0.0;   // one step, stage units
    double endUnits = 0.0;    // where the program left the stage
};

// Where frame `step` (from 1) belongs, in stage units, and how far from there
// it may be exposed: a tenth of a step in step mode, where the stage dwells
// on each step; half a step either side in continuous mode, the frame's
// share of the stroke (counted from position 0, as the requests are); never
// less than half a controller count.
struct FramePlace {
    double centre = 0.0;
    double tolerance = 0.0;
};
FramePlace PlaceOfFrame(const ScanGeometry& scan, int step);

// True when the record shows its frame exposed in place: read, requested in
// time, and the stage within the tolerance of its place both when the frame
// was requested and once it had been read.
bool TakenInPlace(const FrameRecord& record, const FramePlace& place);

struct RepairResult {
    int offStep = 0;  // frames found exposed off their place
    int retaken = 0;  // of them, taken again in place
    bool checked = false;  // false: the scan kept no frame records to check
};

// Checks the records of the cameras the scan used (the camera of `handle`
// for take mode 0, camera 1 and camera 2 for take mode 1). With `retake`,
// each frame found off its place is taken again with the stage standing at
// its place (up to three attempts), through the monitoring loop's request
// handshake, and the stage is then put back where the program left it.
// Frames that stay off their place are flagged late in their records. The
// retaking ends early when `stopRequested` says so or the stage does not
// reach a place.
RepairResult RepairOffStepFrames(const ScanGeometry& scan, int handle, int takeMode, bool retake,
                                 const std::function<bool()>& stopRequested);

}  // namespace pelu
