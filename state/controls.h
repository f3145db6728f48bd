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

// Leading decimal integer of the text, as atoi reads it, saturated to the int
// range instead of overflowing; 0 when the text does not start with a number.
int TextToInt(const std::string& text);
// Leading decimal number of the text, as atof reads it; 0 when there is none.
double TextToDouble(const std::string& text);

}  // namespace pelu
