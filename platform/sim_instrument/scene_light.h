// The light of the solar scene on the simulated cameras' sensors: each
// camera sees the spectrum of the slit at the stage position the scanner
// reports, in the spectral window the grating position selects. With the
// simulated stage and grating in the same process, a scan builds a real
// picture of the scene.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/camera_sdk/frame_generator.h"

namespace simsun {

// Where the moving parts of the instrument are, asked at every exposure.
struct InstrumentProbes {
    std::function<double()> stagePosition;  // scanner stage, display units (counts / 10)
    std::function<double()> gratingStep;    // grating motor (axis 1) encoder, steps
};

// How a camera's detector maps onto the spectrum.
struct CameraOptics {
    double restAngstrom = 6562.8;       // the line the camera observes
    double angstromPerPixel = 0.012;    // dispersion along x (unbinned pixels)
    double lineWidthAngstrom = 0.35;
    double continuumRate = 20000.0;     // photo-electrons per pixel per second, quiet Sun
};

// The optics of camera 0 (H alpha) and camera 1 (Ca II 8542).
CameraOptics DefaultOptics(int camera);

// The spectrograph: the grating step at which the lines sit in the middle
// of the detectors, and how far one grating step moves the spectrum.
struct SpectrographModel {
    double lineCentreStep = 100000.0;  // the first entry of the site's Wv.ini
    double angstromPerGratingStep = 0.005;
    double arcsecPerStageUnit = 0.2;   // how far one stage unit moves the image across the slit
};

class SolarSpectrumLight : public camsim::LightModel {
public:
    SolarSpectrumLight(InstrumentProbes probes, SpectrographModel spectrograph = {});
    void RowRate(const camsim::ExposureContext& context, int y, int x0, int count,
                 double* rate) const override;

private:
    // The probes are read once per exposure: every row of a frame sees the
    // instrument as it stood when the exposure began.
    struct Reading {
        int camera = -1;
        uint64_t frame = 0;
        double stage = 0, grating = 0;
    };
    Reading Read(const camsim::ExposureContext& context) const;

    InstrumentProbes probes_;
    SpectrographModel spectrograph_;
    mutable std::mutex mutex_;
    mutable Reading last_[2];
};

}  // namespace simsun
