// Synthetic frames of a cooled scientific CCD: bias, dark current, read and
// shot noise, and whatever light falls on the sensor while the shutter is
// open. A pure unit: the same request and seed always give the same frame.
//
// The light comes from a LightModel, so a scene that depends on the scanner
// position or the grating can replace the default spectrum without touching
// the sensor model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace camsim {

// What an exposure knows when it asks for light.
struct ExposureContext {
    int camera = 0;              // index of the camera in the pair (0 or 1)
    int detectorWidth = 0;       // unbinned sensor size
    int detectorHeight = 0;
    double exposureSeconds = 0;  // shutter-open time
    uint64_t frameNumber = 0;    // frames this camera has exposed since it was initialised
};

// The light that falls on a camera's sensor.
class LightModel {
public:
    virtual ~LightModel() = default;
    // Photo-electrons per second on the unbinned pixels x0 .. x0 + count - 1
    // of detector row y (all 0-based) while the shutter is open.
    virtual void RowRate(const ExposureContext& context, int y, int x0, int count,
                         double* rate) const = 0;
    // True when the light does not change from one exposure to the next, so
    // a series may reuse the first frame's light.
    virtual bool Static() const { return false; }
};

// A slit spectrum: wavelength runs along x with a deep absorption line in the
// middle and two weaker ones, the slit runs along y with brightness structure
// and a dark band where the slit crosses a spot.
class SpectrumLight : public LightModel {
public:
    explicit SpectrumLight(double continuumRate = 4000.0) : continuumRate_(continuumRate) {}
    void RowRate(const ExposureContext& context, int y, int x0, int count,
                 double* rate) const override;
    // Relative intensity (continuum 1 at the centre) at detector fractions u (x) and v (y).
    static double Profile(double u, double v);
    bool Static() const override { return true; }

private:
    // The spectrum does not change between exposures: each sensor size's
    // rate map is computed once.
    const std::vector<double>& Map(int width, int height) const;

    double continuumRate_;
    mutable std::mutex mutex_;
    mutable std::map<std::pair<int, int>, std::vector<double>> maps_;
};

// Electronic properties of the sensor.
struct SensorModel {
    double baselineAdu = 1000.0;     // offset the clamp holds the bias at
    double biasPatternAdu = 1.5;     // fixed column pattern of the bias
    double readNoiseElectrons = 6.0;
    double electronsPerAdu = 1.0;
    double darkRateAt20C = 40.0;     // electrons per pixel per second
    double darkDoublingCelsius = 6.0;
};

struct FrameRequest {
    ExposureContext context;
    // Image area on the detector, 1-based and inclusive, and the binning.
    int hbin = 1, vbin = 1;
    int hstart = 1, hend = 1, vstart = 1, vend = 1;
    double temperatureCelsius = 20.0;
    bool shutterOpen = true;
    int emGain = 0;                  // EM register gain; 0 or 1 multiply by one
    uint64_t seed = 1;
};

// Electrons of dark current per pixel per second at a sensor temperature.
double DarkRate(const SensorModel& sensor, double temperatureCelsius);

// Size of the frame a request gives: the area divided by the binning (a
// remainder is dropped, as the sensor does); 0 for an area outside the sensor.
int FrameWidth(const FrameRequest& request);
int FrameHeight(const FrameRequest& request);

// Renders one frame, row after row, into `out`. Writes FrameWidth x
// FrameHeight pixels but never more than `capacity`; returns the number
// written. `scratch` is reused between calls so that rendering allocates
// nothing once it has grown to the sensor width.
size_t RenderFrame(const FrameRequest& request, const SensorModel& sensor, const LightModel* light,
                   uint16_t* out, size_t capacity, std::vector<double>& scratch);

// The light of a request per output pixel (photo-electrons per second summed
// over each bin), row after row; empty for an area outside the sensor.
void BinnedLight(const FrameRequest& request, const LightModel* light, std::vector<double>& rate);
// RenderFrame with the light already binned (BinnedLight of the same area).
size_t RenderFrameWithLight(const FrameRequest& request, const SensorModel& sensor,
                            const std::vector<double>& binnedRate, uint16_t* out, size_t capacity);

}  // namespace camsim
