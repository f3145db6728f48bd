// The monitoring loop of a scan and its side of the take handshake: while
// the scanner connection is open it reads the stage position and status and
// serves each frame request the scan program raises (`take`), taking the
// frame into the slot of its scan position.
#pragma once

namespace pelu {

// Serves the frame requests of a scan while the scanner connection is open. Returns 1.
int MonitoringThreadFunction();
// One pass of the loop's request handling (take = 1): the frame of the
// current camera (take mode 0) or of camera 1 and then camera 2 (take mode
// 1), recorded with its scan step, stage position and late flag. Returns
// the frame slot it served, -1 when there was no request.
int ServeTakeRequest();

}  // namespace pelu
