#include "data/statistics.h"

#include <cmath>

#include "platform/os/os.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {

void GetMinMax(const uint16_t* data, size_t count, uint16_t* min, uint16_t* max) {
    uint16_t lo = 65535, hi = 0;
    for (size_t i = 0; i < count; ++i) {
        if (data[i] > hi) hi = data[i];
        if (data[i] < lo) lo = data[i];
    }
    *min = lo;
    *max = hi;
}

namespace {
size_t PlaneSize(int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    return size_t(width) * size_t(height);
}
}  // namespace

float DataMean(int width, int height, const uint16_t* data) {
    const size_t n = PlaneSize(width, height);
    if (n == 0) return 0.0f;
    // Whole samples summed in 64 bits are exact; the division is the only rounding.
    uint64_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += data[i];
    return static_cast<float>(static_cast<double>(sum) / static_cast<double>(n));
}

float DataStdev(int width, int height, const uint16_t* data, float mean) {
    const size_t n = PlaneSize(width, height);
    if (n == 0) return 0.0f;
    const double m = mean;
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double d = data[i] - m;
        sum += d * d;
    }
    return static_cast<float>(std::sqrt(sum / static_cast<double>(n)));
}

std::string TimeStamp() {
    const os::UtcTime t = os::UtcNow();
    return Format("%.2d.%.2d.%.2d-%.2d:%.2d:%.2d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
}

void marktime_start(std::string& text) {
    text = TimeStamp();
    os::QueryPerformanceCounter(&state.gliStart);
}

void marktime_end(std::string& text) {
    text = TimeStamp();
    os::QueryPerformanceCounter(&state.gliEnd);
}

float time_difference() {
    if (state.gliFreq <= 0) return 0.0f;
    return static_cast<float>(static_cast<double>(state.gliEnd - state.gliStart) /
                              static_cast<double>(state.gliFreq));
}

}  // namespace pelu
