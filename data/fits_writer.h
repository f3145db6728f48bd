// The observation FITS file (one 16-bit image or cube per camera series, with
// the camera, scan and observation settings in the header) and the
// flat-field product (one float cube of seven averaged planes per camera).
//
// The writers write what they are given: the caller gathers the header
// values when it saves (the observation page is read then, not when the
// settings were applied) and hands over the frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "state/frame_record.h"

namespace pelu {

// Every header value a product records.
struct ProductHeader {
    float exposureSeconds = 0.0f;
    int hbin = 0, vbin = 0, gain = 0;
    std::string startTime, endTime;  // of the acquisition or scan
    float elapsedSeconds = 0.0f;
    // The scan: PELUMODE and its cards follow the scanner's state and mode.
    int scannerStatus = -1;  // kDeviceNeverOpened / kDeviceOn / kDeviceOff
    int scanMode = -1;       // -1 none, 0 spectrograph, 1 imaging
    float stepTimeMs = 0.0f, stepSize = 0.0f;       // spectrograph
    float scanSpeed = 0.0f, scanDistance = 0.0f;    // imaging
    // The camera, as it was at save time.
    int temperature = 0;
    std::string headModel;
    int detectorWidth = 0, detectorHeight = 0;
    // The observation page.
    std::string observer;
    int target = -1;  // -1 none, 0..7 the named targets, 8 the free text
    std::string activeRegion, otherTarget;
    int telescopeX = 0, telescopeY = 0;
    int averagedFrames = 0;  // flat product: frames averaged at each grating angle
    // COMMENT cards that close the observation file's primary header (a
    // series stopped short says where it stopped).
    std::vector<std::string> closingComments;
    // The frames of the product, one row each of the table after the
    // primary HDU (frame number = index + 1); no table when off or empty.
    bool frameTable = true;
    std::vector<FrameRecord> frames;
};

// The frames of one camera for a product: camera 1 or 2 (file letter A or B),
// naxis1 x naxis2 x naxis3 values, `available` of them at `data`.
template <class T>
struct ProductData {
    int camera = 0;
    int naxis1 = 0, naxis2 = 0, naxis3 = 0;
    const T* data = nullptr;
    size_t available = 0;
};

// What a save did: whether the whole file is on disk, and its logical path
// (empty when no file was begun).
struct SaveResult {
    bool written = false;
    std::string path;
};

// Saves a product with `save(folder)` into `directory`. When that fails the
// observer is told, as a save warning naming `what` ("series of CCD 1") and
// the file, and is offered another folder, as often as they like; the data
// stay with the caller meanwhile. The path written, or "" when nothing was.
std::string SaveOrOfferAnother(const std::string& what, const std::string& directory,
                               const std::function<SaveResult(const std::string&)>& save);

// Writes the series as "PELU_<UTC>_A.fts" or "..._B.fts" into `directory`,
// a logical path without trailing separator. Shows the save time on the main
// panel and the name of the file written in the status box; failures are
// reported in the status box and in the result.
SaveResult SaveFits(const ProductHeader& header, const ProductData<uint16_t>& frames,
                    const std::string& directory);

// Writes the flat cube as "..._A_Flat.fts" or "..._B_Flat.fts".
SaveResult SaveFlatFits(const ProductHeader& header, const ProductData<float>& planes,
                        const std::string& directory);

}  // namespace pelu
