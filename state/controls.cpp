#include "state/controls.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "platform/ui/ui.h"

namespace pelu {

std::string GetText(int panel, int control) {
    std::string text;
    ui::GetCtrlVal(panel, control, &text);
    return text;
}

int GetInt(int panel, int control) {
    int value = 0;
    ui::GetCtrlVal(panel, control, &value);
    return value;
}

double GetDouble(int panel, int control) {
    double value = 0;
    ui::GetCtrlVal(panel, control, &value);
    return value;
}

void SetText(int panel, int control, const std::string& text) {
    ui::SetCtrlVal(panel, control, text);
}

void SetDimmed(int panel, int control, bool dimmed) {
    ui::SetCtrlAttribute(panel, control, ui::ATTR_DIMMED, dimmed ? 1 : 0);
}

int TextToInt(const std::string& text) {
    errno = 0;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

double TextToDouble(const std::string& text) {
    double value = std::strtod(text.c_str(), nullptr);
    return std::isfinite(value) ? value : 0.0;
}

}  // namespace pelu
