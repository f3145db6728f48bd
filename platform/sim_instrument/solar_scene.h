// A piece of the solar surface as the simulated spectrograph sees it: a
// sunspot with umbra and filamentary penumbra in granulation, and the
// absorption line it is observed in, Doppler-shifted by the granular flows
// and the outflow in the penumbra. A pure unit: the same coordinates always
// give the same light.
//
// Coordinates are in arcseconds on the Sun: x across the slit (the scanner
// moves the solar image in x), y along the slit. The field is 100" along the
// slit; the spot sits at (kSpotX, kSpotY).
#pragma once

namespace simsun {

constexpr double kFieldHeightArcsec = 100.0;
constexpr double kSpotX = 22.0;
constexpr double kSpotY = 50.0;
constexpr double kUmbraRadius = 5.0;
constexpr double kPenumbraRadius = 11.0;

// Continuum intensity (1 = quiet Sun) and line-of-sight velocity (km/s,
// positive = away from us) at a point.
struct SurfacePoint {
    double continuum = 1.0;
    double velocity = 0.0;
    double lineDepth = 0.8;  // fraction of the continuum the line core removes
};

SurfacePoint SurfaceAt(double xArcsec, double yArcsec);

// Intensity relative to the quiet-Sun continuum at `offsetAngstrom` from the
// rest wavelength `restAngstrom` of the line, at the given surface point.
double LineIntensity(const SurfacePoint& point, double offsetAngstrom, double restAngstrom,
                     double widthAngstrom);

}  // namespace simsun
