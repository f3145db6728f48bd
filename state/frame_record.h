// What acquisition knows of each frame it attempted. A record travels with
// its frame from the camera to the run, the writers and the frame counts, so
// nobody has to guess from the pixels which frames exist.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace pelu {

struct FrameRecord {
    int camera = 0;  // 1 or 2
    int index = 0;   // place in the series, from 0
    int width = 0, height = 0;
    bool read = false;  // the camera delivered the frame into its slot
    // Exposure start and end, UTC microseconds since 1970 (host clock).
    int64_t startUtcUs = 0, endUtcUs = 0;
    int scanStep = 0;  // scan step that requested the frame, from 1; 0 outside a scan
    // Stage position (micrometres) read when the frame was requested and
    // when it had been taken.
    float positionRequested = 0.0f, positionEnded = 0.0f;
    // Exposed off its place in the scan: requested only after the stage had
    // left it, or the stage not standing there when it was requested or once
    // it had been read.
    bool late = false;
    // Taken again after the scan program had ended, the stage standing at
    // its step (it replaces a frame exposed off its place).
    bool retaken = false;
};

// The records of one camera's series, one per frame slot: a slot taken again
// (live view, a new repetition) keeps its latest attempt. Acquisition and
// the monitoring thread add; the run reads. Thread-safe.
class FrameLog {
public:
    // Forgets every record; the next series has `frames` slots.
    void Start(int frames);
    void Add(const FrameRecord& record);
    // Sets the end position of the record in slot `index`, if there is one.
    void SetEndPosition(int index, float position);
    // Flags the record in slot `index`, if there is one, as exposed off its place.
    void SetLate(int index);
    // The record of slot `index`; false when that slot was not attempted.
    bool Record(int index, FrameRecord* record) const;
    // The records of slots 0..frames-1 that were attempted, in slot order.
    std::vector<FrameRecord> Records() const;
    // Slots below `frames` whose frame was read.
    int Stored(int frames) const;

private:
    mutable std::mutex mutex_;
    std::vector<FrameRecord> slots_;
    std::vector<bool> attempted_;
};

// Microseconds since 1970 of the host's UTC clock.
int64_t UtcMicroseconds();

}  // namespace pelu
