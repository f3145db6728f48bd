// The monitoring loop of a scan and its side of the take handshake: while
// the scanner connection is open it reads the stage position and status and
// serves each frame request the scan program raises (`take`), taking the
// frame into the slot of its scan position.
#pragma once

namespace pelu {

// Serves the frame requests of a scan while the scanner connection is open:
// it sleeps until a request comes (`take` wakes it) and reads the stage's
// position and status bits every 20 instrument milliseconds in between.
// Runs under the real-time policy where the system allows it (a status line
// says once when it does not). Returns 1.
int MonitoringThreadFunction();
// One request (take = 1): the frame of the current camera (take mode 0) or
// of camera 1 and then camera 2 (take mode 1), recorded with its scan step,
// stage position at the request and after the frames, late and retake
// flags; then take = 0. Returns the frame slot it served, -1 when there was
// no request.
int ServeTakeRequest();

}  // namespace pelu
