// What the run hands the writers: the header values, gathered at save time,
// and the frames of a camera.
#pragma once

#include <string>
#include <vector>

#include "data/fits_writer.h"
#include "state/camera_slot.h"

namespace pelu {

// The header of a product of `camera`: the settings, the scan, the camera's
// temperature and head model (asked of the camera now) and the observation
// page as it reads now.
ProductHeader GatherProductHeader(const CameraSlot& camera, float exposureSeconds,
                                  const std::string& startTime, const std::string& endTime,
                                  float elapsedSeconds);

// The records of the first `frames` frames of the camera's series.
std::vector<FrameRecord> SeriesRecords(const CameraSlot& camera, int frames);
// The first `frames` frames of the camera's series.
ProductData<uint16_t> SeriesData(const CameraSlot& camera, int frames);
// The camera's flat cube of `planes` planes.
ProductData<float> FlatData(const CameraSlot& camera, int planes);

}  // namespace pelu
