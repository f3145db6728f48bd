// What the FITS headers record of a camera at save time, read from the camera
// library.
#pragma once

#include <string>

namespace pelu {

struct CameraFacts {
    int temperature = 0;    // whole degrees Celsius
    std::string headModel;  // product name of the camera head
};

// Makes camera `handle` current and reads its temperature and head model.
// The camera stays current afterwards.
CameraFacts ReadCameraFacts(int handle);

}  // namespace pelu
