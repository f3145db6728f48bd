#include "camera/camera_facts.h"

#include "camera/camera_lock.h"
#include "platform/camera_sdk/atmcd.h"

namespace pelu {

CameraFacts ReadCameraFacts(int handle) {
    CameraFacts facts;
    char model[64] = {};
    CameraSession session(handle);
    GetTemperature(&facts.temperature);
    GetHeadModel(model);
    model[sizeof(model) - 1] = '\0';
    facts.headModel = model;
    return facts;
}

}  // namespace pelu
