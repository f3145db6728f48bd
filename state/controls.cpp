#include "state/controls.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "platform/ui/ui.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {

std::string GetText(int panel, int control) {
    std::string text;
    ui::GetCtrlVal(panel, control, &text);
    return text;
}

int SettingsPage(int tab, int pageIndex) {
    int page = 0;
    ui::GetPanelHandleFromTabPage(state.PELUpanelSetting, tab, pageIndex, &page);
    return page;
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

std::string FieldRefusal(const std::string& field, const std::string& text, double min, double max,
                         bool whole) {
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    const std::string number =
        first == std::string::npos ? "" : text.substr(first, last - first + 1);
    char* end = nullptr;
    errno = 0;
    const double value = number.empty() ? 0.0 : std::strtod(number.c_str(), &end);
    const bool isNumber = !number.empty() && end == number.c_str() + number.size() && errno == 0 &&
                          std::isfinite(value);
    const auto range = [&] { return Format(whole ? "%.0f to %.0f" : "%g to %g", min, max); };
    if (!isNumber || (whole && value != std::floor(value)))
        return Format("%s: \"%s\" is not %s; allowed: %s.", field.c_str(), text.c_str(),
                      whole ? "a whole number" : "a number", range().c_str());
    if (value < min || value > max)
        return Format("%s: %s is out of range; allowed: %s.", field.c_str(), number.c_str(),
                      range().c_str());
    return "";
}

std::string CameraFieldsRefusal(const CameraFieldTexts& t) {
    std::string refusal;
    if (t.readsFrames)
        refusal = FieldRefusal("Frames (scan steps)", t.frames, 0, kMaxFramesPerSeries, true);
    if (refusal.empty())
        refusal = FieldRefusal("Exposure (s)", t.exposure, 0, kMaxExposureSeconds, false);
    if (refusal.empty()) refusal = FieldRefusal("Gain", t.gain, 0, 255, true);
    if (refusal.empty() && t.customBinning)
        refusal = FieldRefusal("Custom horizontal binning", t.customH, 1, kMaxBinning, true);
    if (refusal.empty() && t.customBinning)
        refusal = FieldRefusal("Custom vertical binning", t.customV, 1, kMaxBinning, true);
    return refusal;
}

}  // namespace pelu
