// A camera of the pair and everything the instrument state holds for it:
// its handle, image and detector sizes, frame buffers and frame records.
// Camera 1 and camera 2 are the cameras at library index 0 and 1; this is
// the one place that tells from a handle which of them it is.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "state/buffer.h"
#include "state/frame_record.h"

namespace pelu {

struct CameraSlot {
    int number = 0;  // 1 or 2; 0 for a handle that is neither camera's (0 included)
    int handle = 0;
    std::atomic<int>* imageWidth = nullptr;  // as configured, after binning
    std::atomic<int>* imageHeight = nullptr;
    std::atomic<int>* detectorWidth = nullptr;  // full sensor, filled when opened
    std::atomic<int>* detectorHeight = nullptr;
    Buffer<uint16_t>* raw = nullptr;       // frames x width x height
    FrameLog* frames = nullptr;            // records of the series in raw
    Buffer<uint16_t>* biasDark = nullptr;  // width x height
    Buffer<float>* flat = nullptr;         // one float plane (flat fielding)
    Buffer<float>* flatCube = nullptr;     // seven float planes (flat fielding)

    bool known() const { return number != 0; }
    int width() const { return imageWidth ? imageWidth->load() : 0; }
    int height() const { return imageHeight ? imageHeight->load() : 0; }
    size_t Plane() const {
        const int w = width(), h = height();
        return w > 0 && h > 0 ? size_t(w) * size_t(h) : 0;
    }
    char letter() const { return number == 2 ? 'B' : number == 1 ? 'A' : 0; }
};

// Camera 1 or 2 (any other number gives camera 1).
CameraSlot CameraSlotNumbered(int number);
// The camera whose handle this is; an unknown slot (number 0) otherwise.
CameraSlot CameraSlotOfHandle(int handle);

}  // namespace pelu
