// The observation FITS file (one 16-bit image or cube per camera series, with
// the camera, scan and observation settings in the header) and the
// flat-field product (one float cube of seven averaged planes per camera).
#pragma once

#include <string>

namespace pelu {

// Writes camera `handle`'s series (its raw buffer, naxis1 x naxis2 x naxis3
// words) as "PELU_<UTC>_A.fts" or "..._B.fts" into `directory`, a logical
// path without trailing separator. Shows the save time on the main panel.
// Failures are reported in the status box; the return value is always 1.
int SaveFits(int naxis1, int naxis2, int naxis3, float exposureSeconds, int handle,
             const std::string& startTime, const std::string& endTime, float elapsedSeconds,
             const std::string& directory);

// Writes the camera's flat cube (flatcube1/flatcube2) as "..._A_Flat.fts" or
// "..._B_Flat.fts" and then releases that camera's flat buffers. Always 1.
int SaveFlatFits(int naxis1, int naxis2, int naxis3, float exposureSeconds, int handle,
                 const std::string& startTime, const std::string& endTime, float elapsedSeconds,
                 const std::string& directory);

}  // namespace pelu
