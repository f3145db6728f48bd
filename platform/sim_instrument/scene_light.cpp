#include "platform/sim_instrument/scene_light.h"

#include "platform/sim_instrument/solar_scene.h"

namespace simsun {

CameraOptics DefaultOptics(int camera) {
    CameraOptics optics;
    if (camera == 1) {
        optics.restAngstrom = 8542.1;
        optics.angstromPerPixel = 0.008;
        optics.lineWidthAngstrom = 0.3;
        optics.continuumRate = 8000.0;
    }
    return optics;
}

SolarSpectrumLight::SolarSpectrumLight(InstrumentProbes probes, SpectrographModel spectrograph)
    : probes_(std::move(probes)), spectrograph_(spectrograph) {}

SolarSpectrumLight::Reading SolarSpectrumLight::Read(const camsim::ExposureContext& context) const {
    std::lock_guard lock(mutex_);
    Reading& last = last_[context.camera == 1 ? 1 : 0];
    if (last.camera != context.camera || last.frame != context.frameNumber) {
        last.camera = context.camera;
        last.frame = context.frameNumber;
        last.stage = probes_.stagePosition ? probes_.stagePosition() : 0.0;
        last.grating = probes_.gratingStep ? probes_.gratingStep() : spectrograph_.lineCentreStep;
    }
    return last;
}

void SolarSpectrumLight::RowRate(const camsim::ExposureContext& context, int y, int x0, int count,
                                 double* rate) const {
    const CameraOptics optics = DefaultOptics(context.camera);
    const Reading reading = Read(context);
    const double stage = reading.stage;
    const double grating = reading.grating;
    const double height = context.detectorHeight > 0 ? context.detectorHeight : 1;
    const SurfacePoint point =
        SurfaceAt(stage * spectrograph_.arcsecPerStageUnit, (y + 0.5) / height * kFieldHeightArcsec);
    const double windowShift =
        (grating - spectrograph_.lineCentreStep) * spectrograph_.angstromPerGratingStep;
    const double centre = context.detectorWidth / 2.0;
    for (int i = 0; i < count; ++i) {
        const double offset = (x0 + i - centre) * optics.angstromPerPixel + windowShift;
        rate[i] = optics.continuumRate *
                  LineIntensity(point, offset, optics.restAngstrom, optics.lineWidthAngstrom);
    }
}

}  // namespace simsun
