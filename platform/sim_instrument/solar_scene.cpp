#include "platform/sim_instrument/solar_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace simsun {
namespace {

constexpr double kSpeedOfLightKmS = 299792.458;
constexpr double kGranuleSize = 1.4;  // arcsec between granule centres

// A deterministic hash of a grid cell to [0, 1).
double Hash(int64_t i, int64_t j, uint64_t salt) {
    uint64_t h = static_cast<uint64_t>(i) * 0x9E3779B97F4A7C15ull ^
                 static_cast<uint64_t>(j) * 0xC2B2AE3D27D4EB4Full ^ salt;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBull;
    h ^= h >> 33;
    return static_cast<double>(h >> 11) / 9007199254740992.0;
}

// Granulation: bright cells with dark intergranular lanes. Returns the
// brightness contrast (about -1 in lanes to +1 at cell centres).
double Granulation(double x, double y) {
    const double gx = x / kGranuleSize, gy = y / kGranuleSize;
    const int64_t cx = static_cast<int64_t>(std::floor(gx));
    const int64_t cy = static_cast<int64_t>(std::floor(gy));
    double nearest = 1e9, second = 1e9;
    for (int64_t j = cy - 1; j <= cy + 1; ++j)
        for (int64_t i = cx - 1; i <= cx + 1; ++i) {
            const double px = i + 0.15 + 0.7 * Hash(i, j, 1);
            const double py = j + 0.15 + 0.7 * Hash(i, j, 2);
            const double d = (gx - px) * (gx - px) + (gy - py) * (gy - py);
            if (d < nearest) {
                second = nearest;
                nearest = d;
            } else if (d < second) {
                second = d;
            }
        }
    // Near the edge between two cells the distances are equal: a lane.
    const double edge = std::sqrt(second) - std::sqrt(nearest);
    return std::tanh(2.5 * edge) * 2.0 - 1.0;
}

}  // namespace

SurfacePoint SurfaceAt(double x, double y) {
    SurfacePoint p;
    const double dx = x - kSpotX, dy = y - kSpotY;
    const double r = std::sqrt(dx * dx + dy * dy);
    const double granulation = Granulation(x, y);
    // Quiet Sun: 8 % granular contrast, bright granules rise (blue shift).
    double continuum = 1.0 + 0.08 * granulation;
    double velocity = -0.8 * granulation;
    double depth = 0.8;
    if (r < kPenumbraRadius + 1.0) {
        const double angle = std::atan2(dy, dx);
        // Penumbral filaments: radial streaks of alternating brightness.
        const double filaments = std::sin(angle * 37.0 + 3.0 * std::sin(angle * 5.0)) *
                                 (0.6 + 0.4 * std::sin(angle * 11.0 + r));
        const double penumbra = 0.72 + 0.1 * filaments;
        // The umbra is dark and smooth, with a few umbral dots.
        const double umbra = 0.18 + 0.03 * std::max(0.0, Granulation(x * 2.5, y * 2.5));
        // Soft edges over about 0.7" between the zones.
        const double toPenumbra = 0.5 * (1.0 + std::tanh((r - kUmbraRadius) / 0.35));
        const double toQuiet = 0.5 * (1.0 + std::tanh((r - kPenumbraRadius) / 0.35));
        const double spot = umbra + (penumbra - umbra) * toPenumbra;
        continuum = spot + (continuum - spot) * toQuiet;
        // Outflow along the filaments, seen as a shift on the far side.
        const double outflow = 2.0 * toPenumbra * (1.0 - toQuiet) * (dx / (r + 1e-9));
        velocity = velocity * toQuiet + outflow;
        depth = 0.7 + (0.8 - 0.7) * toQuiet;  // a weaker line in the cool spot
    }
    p.continuum = continuum;
    p.velocity = velocity;
    p.lineDepth = depth;
    return p;
}

double LineIntensity(const SurfacePoint& point, double offsetAngstrom, double restAngstrom,
                     double widthAngstrom) {
    const double shift = restAngstrom * point.velocity / kSpeedOfLightKmS;
    const double u = (offsetAngstrom - shift) / widthAngstrom;
    return point.continuum * (1.0 - point.lineDepth * std::exp(-u * u));
}

}  // namespace simsun
