#include "control/save_products.h"

#include "camera/camera_facts.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"

namespace pelu {

ProductHeader GatherProductHeader(const CameraSlot& camera, float exposureSeconds,
                                  const std::string& startTime, const std::string& endTime,
                                  float elapsedSeconds) {
    ProductHeader h;
    h.exposureSeconds = exposureSeconds;
    h.hbin = state.ccd_HBin;
    h.vbin = state.ccd_VBin;
    h.gain = state.ccd_Gain;
    h.startTime = startTime;
    h.endTime = endTime;
    h.elapsedSeconds = elapsedSeconds;

    h.scannerStatus = state.Scanner_status;
    h.scanMode = state.scan_mode;
    h.stepTimeMs = state.scan_duration;
    // The step entered, in whole micrometres (scan_size holds half of it).
    h.stepSize = static_cast<float>(static_cast<int>(2.0 * state.scan_size));
    h.scanSpeed = state.scan_speed;
    h.scanDistance = state.scan_stroke;

    if (camera.known()) {
        const CameraFacts facts = ReadCameraFacts(camera.handle);
        h.temperature = facts.temperature;
        h.headModel = facts.headModel;
        h.detectorWidth = *camera.detectorWidth;
        h.detectorHeight = *camera.detectorHeight;
    }

    const int page = SettingsPage(SETTINGS_TAB, OBS_PAGE_INDEX);
    h.observer = GetText(page, OBS_PAGE_OBSERVER);
    h.target = GetInt(page, OBS_PAGE_TARGET);
    h.activeRegion = GetText(page, OBS_PAGE_ARNUMBER);
    h.otherTarget = GetText(page, OBS_PAGE_OTHER_TARGET);
    h.telescopeX = GetInt(page, OBS_PAGE_TEL_X);
    h.telescopeY = GetInt(page, OBS_PAGE_TEL_Y);
    h.frameTable = GetInt(page, OBS_PAGE_FRAMETABLE) != 0;
    h.averagedFrames = state.g_nFrameNumber1;
    return h;
}

std::vector<FrameRecord> SeriesRecords(const CameraSlot& camera, int frames) {
    std::vector<FrameRecord> records;
    if (!camera.frames) return records;
    for (const FrameRecord& r : camera.frames->Records())
        if (r.index < frames) records.push_back(r);
    return records;
}

namespace {

// The first `planes` planes of `buffer`, one of the camera's, as a product of
// the camera's image size.
template <typename T>
ProductData<T> CameraPlanes(const CameraSlot& camera, const Buffer<T>* buffer, int planes) {
    ProductData<T> d;
    d.camera = camera.number;
    d.naxis1 = camera.width();
    d.naxis2 = camera.height();
    d.naxis3 = planes;
    if (buffer) {
        d.data = buffer->get();
        d.available = buffer->size();
    }
    return d;
}

}  // namespace

ProductData<uint16_t> SeriesData(const CameraSlot& camera, int frames) {
    return CameraPlanes(camera, camera.raw, frames);
}

ProductData<float> FlatData(const CameraSlot& camera, int planes) {
    return CameraPlanes(camera, camera.flatCube, planes);
}

}  // namespace pelu
