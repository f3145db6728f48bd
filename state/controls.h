// Small conveniences for reading and writing panel controls, and the text to
// number conversions the settings use (text that is not a number gives 0).
#pragma once

#include <string>

namespace pelu {

std::string GetText(int panel, int control);
int GetInt(int panel, int control);
double GetDouble(int panel, int control);
void SetText(int panel, int control, const std::string& text);
void SetDimmed(int panel, int control, bool dimmed);
// The panel of page `pageIndex` of the settings dialog's tab control `tab`
// (0 when there is no such page).
int SettingsPage(int tab, int pageIndex);

// Leading decimal integer of the text, as atoi reads it, saturated to the int
// range instead of overflowing; 0 when the text does not start with a number.
int TextToInt(const std::string& text);
// Leading decimal number of the text, as atof reads it; 0 when there is none.
double TextToDouble(const std::string& text);
// The ranges the settings dialog accepts.
constexpr int kMaxFramesPerSeries = 100000;
constexpr double kMaxExposureSeconds = 3600.0;
constexpr int kMaxBinning = 2048;

// What is wrong with the text of a settings field that must hold a number
// from `min` to `max` (a whole number when `whole`), naming the field, the
// text and the allowed range; "" when the text is such a number (blanks
// around it are allowed).
std::string FieldRefusal(const std::string& field, const std::string& text, double min, double max,
                         bool whole);

// The camera page's text fields as the OK reads them. Frames are checked only
// when the take mode reads them, the custom binning only when it is chosen.
struct CameraFieldTexts {
    bool readsFrames = false;
    std::string frames, exposure, gain;
    bool customBinning = false;
    std::string customH, customV;
};
// The first field whose text is refused (see FieldRefusal), or "".
std::string CameraFieldsRefusal(const CameraFieldTexts& texts);

}  // namespace pelu
