#include <cmath>

#include "platform/ui/ui.h"

namespace ui {

int Histogram(const double* data, int count, double low, double high, int* histogram,
              double* axis, int bins) {
    if ((!data && count > 0) || count < 0 || !histogram || !axis || bins <= 0 ||
        !std::isfinite(low) || !std::isfinite(high) || !(low < high))
        return UIE_BAD_ARGUMENT;
    const double width = (high - low) / bins;
    for (int i = 0; i < bins; ++i) {
        histogram[i] = 0;
        axis[i] = low + (i + 0.5) * width;
    }
    for (int i = 0; i < count; ++i) {
        const double v = data[i];
        if (!(v >= low && v <= high)) continue;  // also drops NaN
        int bin = static_cast<int>((v - low) / width);
        if (bin >= bins) bin = bins - 1;  // v == high, or rounding at the top edge
        ++histogram[bin];
    }
    return 0;
}

}  // namespace ui
