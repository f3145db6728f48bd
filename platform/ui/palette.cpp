#include <algorithm>
#include <cmath>

#include "platform/ui/ui.h"

namespace ui {
namespace {

// A perceptually uniform map from dark blue through teal and green to yellow
// (the "viridis" of the plotting libraries), as a polynomial in t in [0, 1]
// per channel: close enough to the tabulated map that no step is visible.
int Perceptual(double t) {
    static constexpr double c[7][3] = {
        {0.2777273272234177, 0.005407344544966578, 0.3340998053353061},
        {0.1050930431085774, 1.404613529898575, 1.384590162594685},
        {-0.3308618287255563, 0.214847559468213, 0.09509516302823659},
        {-4.634230498983486, -5.799100973351585, -19.33244095627987},
        {6.228269936347081, 14.17993336680509, 56.69055260068105},
        {4.776384997670288, -13.74514537774601, -65.35303263337234},
        {-5.435455855934631, 4.645852612178535, 26.3124352495832},
    };
    int rgb = 0;
    for (int channel = 0; channel < 3; ++channel) {
        double v = c[6][channel];
        for (int k = 5; k >= 0; --k) v = c[k][channel] + t * v;
        rgb = rgb << 8 | static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
    }
    return rgb;
}

}  // namespace

std::vector<int> ShownPalette(const PictureImage& image, int palette) {
    std::vector<int> colors(256, 0);
    for (size_t i = 0; i < 256 && i < image.palette.size(); ++i) colors[i] = image.palette[i];
    switch (palette) {
        case VAL_PALETTE_INVERTED:
            std::reverse(colors.begin(), colors.end());
            break;
        case VAL_PALETTE_PERCEPTUAL:
            for (int i = 0; i < 256; ++i) colors[size_t(i)] = Perceptual(i / 255.0);
            break;
        default:
            break;
    }
    return colors;
}

}  // namespace ui
