#include "platform/camera_sdk/frame_generator.h"

#include <algorithm>
#include <cmath>

namespace camsim {
namespace {

constexpr double kTwoPi = 6.283185307179586;

// splitmix64: small, fast and good enough for sensor noise; seeded per frame
// so that frames are reproducible one by one.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in (0, 1].
    double Uniform() { return (static_cast<double>(Next() >> 11) + 1.0) * (1.0 / 9007199254740992.0); }
    // Standard normal deviate (Box-Muller, the second value kept for the next call).
    double Normal() {
        if (haveSpare_) {
            haveSpare_ = false;
            return spare_;
        }
        double r = std::sqrt(-2.0 * std::log(Uniform()));
        double a = kTwoPi * Uniform();
        spare_ = r * std::sin(a);
        haveSpare_ = true;
        return r * std::cos(a);
    }

private:
    uint64_t state_;
    double spare_ = 0;
    bool haveSpare_ = false;
};

uint64_t Mix(uint64_t a, uint64_t b) {
    uint64_t z = a * 0x9E3779B97F4A7C15ull + b + 0x632BE59BD9B4E019ull;
    z = (z ^ (z >> 31)) * 0xBF58476D1CE4E5B9ull;
    return z ^ (z >> 29);
}

double Absorption(double u, double centre, double depth, double width) {
    double d = (u - centre) / width;
    return 1.0 - depth * std::exp(-0.5 * d * d);
}

bool AreaFits(const FrameRequest& r) {
    const ExposureContext& c = r.context;
    return r.hbin >= 1 && r.vbin >= 1 && r.hstart >= 1 && r.vstart >= 1 && r.hend >= r.hstart &&
           r.vend >= r.vstart && r.hend <= c.detectorWidth && r.vend <= c.detectorHeight;
}

}  // namespace

double SpectrumLight::Profile(double u, double v) {
    // Slit direction: brightness structure and a spot crossing the slit.
    double slit = 1.0 + 0.06 * std::sin(kTwoPi * 7.3 * v) + 0.04 * std::sin(kTwoPi * 17.1 * v + 1.0);
    double spot = (v - 0.585) / 0.03;
    slit *= 1.0 - 0.7 * std::exp(-0.5 * spot * spot);
    // Dispersion direction: a gently curved continuum with a deep line whose
    // centre moves a little along the slit, and two weaker lines.
    double continuum = 1.0 - 0.15 * (u - 0.5) * (u - 0.5);
    double lineCentre = 0.5 + 0.003 * std::sin(kTwoPi * 5.0 * v);
    double lines = Absorption(u, lineCentre, 0.85, 0.012) * Absorption(u, 0.22, 0.35, 0.006) *
                   Absorption(u, 0.78, 0.25, 0.008);
    return slit * continuum * lines;
}

const std::vector<double>& SpectrumLight::Map(int width, int height) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<double>& map = maps_[{width, height}];
    if (map.empty()) {
        map.resize(size_t(width) * size_t(height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                map[size_t(y) * size_t(width) + size_t(x)] =
                    continuumRate_ * Profile((x + 0.5) / width, (y + 0.5) / height);
    }
    return map;  // entries of a std::map stay where they are
}

void SpectrumLight::RowRate(const ExposureContext& context, int y, int x0, int count,
                            double* rate) const {
    const int width = context.detectorWidth, height = context.detectorHeight;
    if (width <= 0 || height <= 0 || y < 0 || y >= height || x0 < 0 || x0 + count > width) {
        for (int i = 0; i < count; ++i) rate[i] = 0.0;  // off the sensor: dark
        return;
    }
    const double* row = Map(width, height).data() + size_t(y) * size_t(width) + size_t(x0);
    std::copy(row, row + count, rate);
}

double DarkRate(const SensorModel& sensor, double temperatureCelsius) {
    return sensor.darkRateAt20C * std::exp2((temperatureCelsius - 20.0) / sensor.darkDoublingCelsius);
}

int FrameWidth(const FrameRequest& r) {
    return AreaFits(r) ? (r.hend - r.hstart + 1) / r.hbin : 0;
}

int FrameHeight(const FrameRequest& r) {
    return AreaFits(r) ? (r.vend - r.vstart + 1) / r.vbin : 0;
}

void BinnedLight(const FrameRequest& r, const LightModel* light, std::vector<double>& rate) {
    const int width = FrameWidth(r);
    const int height = FrameHeight(r);
    if (width <= 0 || height <= 0) {
        rate.clear();
        return;
    }
    rate.assign(size_t(width) * size_t(height), 0.0);
    if (light == nullptr) return;
    const int span = width * r.hbin;  // detector columns that reach the output
    thread_local std::vector<double> row;  // grows to the sensor width once per thread
    if (row.size() < size_t(span)) row.resize(size_t(span));
    for (int y = 0; y < height; ++y) {
        double* out = rate.data() + size_t(y) * size_t(width);
        for (int k = 0; k < r.vbin; ++k) {
            light->RowRate(r.context, r.vstart - 1 + y * r.vbin + k, r.hstart - 1, span, row.data());
            for (int i = 0; i < span; ++i) out[i / r.hbin] += row[size_t(i)];
        }
    }
}

size_t RenderFrameWithLight(const FrameRequest& r, const SensorModel& sensor,
                            const std::vector<double>& binnedRate, uint16_t* out, size_t capacity) {
    const int width = FrameWidth(r);
    const int height = FrameHeight(r);
    const size_t frameSize = size_t(std::max(width, 0)) * size_t(std::max(height, 0));
    if (frameSize == 0 || out == nullptr) return 0;
    const size_t pixels = std::min(capacity, frameSize);
    const bool lit = r.shutterOpen && binnedRate.size() == frameSize;
    const double exposure = std::max(0.0, r.context.exposureSeconds);
    const double binArea = double(r.hbin) * double(r.vbin);
    const double darkElectrons = DarkRate(sensor, r.temperatureCelsius) * exposure * binArea;
    const double emGain = r.emGain > 1 ? double(r.emGain) : 1.0;
    const double readNoise = sensor.readNoiseElectrons / sensor.electronsPerAdu;
    Random random(Mix(Mix(r.seed, uint64_t(r.context.camera)), r.context.frameNumber));

    for (size_t i = 0; i < pixels; ++i) {
        const int column = int(i % size_t(width));
        const double mean = (lit ? binnedRate[i] * exposure : 0.0) + darkElectrons;
        double electrons = mean + std::sqrt(mean) * random.Normal();  // shot noise
        if (electrons < 0) electrons = 0;
        electrons *= emGain;
        const int detectorColumn = r.hstart - 1 + column * r.hbin;
        const double bias = sensor.baselineAdu +
                            sensor.biasPatternAdu * std::sin(0.37 * detectorColumn) +
                            readNoise * random.Normal();
        const double adu = std::round(bias + electrons / sensor.electronsPerAdu);
        out[i] = static_cast<uint16_t>(std::clamp(adu, 0.0, 65535.0));
    }
    return pixels;
}

size_t RenderFrame(const FrameRequest& r, const SensorModel& sensor, const LightModel* light,
                   uint16_t* out, size_t capacity, std::vector<double>& scratch) {
    const bool lit = r.shutterOpen && light != nullptr && r.context.exposureSeconds > 0;
    if (lit)
        BinnedLight(r, light, scratch);
    else
        scratch.clear();
    return RenderFrameWithLight(r, sensor, scratch, out, capacity);
}

}  // namespace camsim
