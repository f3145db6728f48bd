#include "data/fits_writer.h"

#include <fitsio.h>

#include <array>
#include <ctime>
#include <string>
#include <vector>

#include "data/fits_file.h"
#include "data/save_timer.h"
#include "platform/ui/ui.h"
#include "platform/os/os.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

constexpr int kActiveRegion = 3;
constexpr int kOtherTarget = 8;

// TARGET card values of the target selector 0..7; 8 is the free text.
constexpr std::array<const char*, 8> kTargetNames = {
    "Near Disk Center", "Close to or on the Limb", "Quiet Region", "Active Region",
    "Corona Hole",      "Sunspot",                 "Filament",     "Prominence"};

// The line each camera observes, for its WAVELEN card.
struct CameraLine {
    char letter;
    const char* wavelength;
    const char* comment;
};
constexpr CameraLine kLines[2] = {{'A', "6562.8", "CCD1 Wavenength(angstrom)"},
                                  {'B', "8542", "CCD2 Wavenength(angstrom)"}};

// Refuses what cannot make an image; reports it. True when the save can go on.
bool Acceptable(const char* what, int camera, int naxis1, int naxis2, int naxis3) {
    if (camera != 1 && camera != 2) {
        ShowWarning(Warning::Save,
                    Format("\n%s not written: camera %d is neither camera\n", what, camera), 0);
        return false;
    }
    if (naxis1 < 1 || naxis2 < 1 || naxis3 < 1) {
        ShowWarning(Warning::Save,
                    Format("\n%s of camera %d not written: image size %d x %d x %d\n", what, camera,
                           naxis1, naxis2, naxis3),
                    0);
        return false;
    }
    return true;
}

// The cards every product shares, after DATE: exposure, binning, gain and the
// scan's times.
void SettingsCards(FitsOutput& file, const ProductHeader& h) {
    file.Float("EXPTIME", h.exposureSeconds, "Second");
    file.Unsigned("HBINNING", static_cast<unsigned>(h.hbin), "");
    file.Unsigned("VBINNING", static_cast<unsigned>(h.vbin), "");
    file.Unsigned("GAIN", static_cast<unsigned>(h.gain), "Value Range: 0-255");
    file.String("STRTIME", h.startTime, "Scan Start Time");
    file.String("ENDTIME", h.endTime, "Scan Finish Time");
    file.Float("ELAPTIME", h.elapsedSeconds, "Elapse Time During Scanning(Second)");
}

void ModeCards(FitsOutput& file, const ProductHeader& h) {
    if (h.scannerStatus == kDeviceOff) {
        file.String("PELUMODE", "None(Only CCD)", "PELU Mode");
        return;
    }
    if (h.scannerStatus != kDeviceOn) return;
    switch (h.scanMode) {
        case 0:
            file.String("PELUMODE", "Spectrograph", "PELU Mode");
            file.Float("STEPTIME", h.stepTimeMs, "1 Step Duration time(millisecond)");
            file.Float("STEPSIZE", h.stepSize, "1 step size to move scanner(micrometer)");
            break;
        case 1:
            file.String("PELUMODE", "Imaging", "PELU Mode");
            file.Float("SCNSPEED", h.scanSpeed, "Scan Speed(micrometer/second)");
            file.Float("SCANDIST", h.scanDistance, "Distance to Scan(millimeter)");
            break;
        case -1: file.String("PELUMODE", "None(Only CCD)", "PELU Mode"); break;
        default: break;
    }
}

void CameraCards(FitsOutput& file, const ProductHeader& h, const CameraLine& line) {
    file.Int("CCDTEMP", h.temperature, "Cooling Temperature of CCD");
    file.String("CCDNAME", h.headModel, "Productname of CCD");
    file.String("WAVELEN", line.wavelength, line.comment);
    file.Unsigned("CCD_XPIX", static_cast<unsigned>(h.detectorWidth), "Full Pixel Size of X");
    file.Unsigned("CCD_YPIX", static_cast<unsigned>(h.detectorHeight), "Full Pixel Size of Y");
}

void ObservationCards(FitsOutput& file, const ProductHeader& h) {
    file.String("OBSERVER", h.observer, "The Name of Main Observer");
    if (h.target == -1) {
        file.String("TARGET", "NONE", "NONE");
    } else if (h.target >= 0 && h.target < static_cast<int>(kTargetNames.size())) {
        file.String("TARGET", kTargetNames[size_t(h.target)], "Observation Target");
        if (h.target == kActiveRegion)
            file.String("ARNUMBER", h.activeRegion, "Active Region Number");
    } else if (h.target == kOtherTarget) {
        file.String("TARGET", h.otherTarget, "Observation Target");
    }
    file.Int("TEL_XPOS", h.telescopeX, "X position of Telescope on the Sun");
    file.Int("TEL_YPOS", h.telescopeY, "Y position of Telescope on the Sun");
}

// "2010-08-12T03:15:02.123456" of microseconds since 1970, UTC.
std::string IsoUtc(int64_t microseconds) {
    const std::time_t seconds = static_cast<std::time_t>(microseconds / 1000000);
    std::tm tm{};
    if (microseconds < 0 || gmtime_r(&seconds, &tm) == nullptr) return "";
    return Format("%04d-%02d-%02dT%02d:%02d:%02d.%06d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, int(microseconds % 1000000));
}

// One row per frame: what acquisition recorded of it. READ is false for a
// frame the camera did not deliver: its plane holds zeros, not data.
void FrameTable(FitsOutput& file, const std::vector<FrameRecord>& frames) {
    const long rows = long(frames.size());
    std::vector<int> number, step;
    std::vector<std::string> start;
    std::vector<double> exposure;
    std::vector<float> requested, ended;
    std::vector<char> late, read, retaken;
    for (const FrameRecord& r : frames) {
        number.push_back(r.index + 1);
        start.push_back(IsoUtc(r.startUtcUs));
        exposure.push_back(double(r.endUtcUs - r.startUtcUs) / 1e6);
        step.push_back(r.scanStep);
        requested.push_back(r.positionRequested);
        ended.push_back(r.positionEnded);
        late.push_back(r.late ? 1 : 0);
        read.push_back(r.read ? 1 : 0);
        retaken.push_back(r.retaken ? 1 : 0);
    }
    std::vector<char*> startText;
    for (std::string& text : start) startText.push_back(text.data());
    file.Table("FRAMES",
               {{"FRAME", "1J", ""},
                {"EXPSTART", "26A", ""},
                {"EXPTIME", "1D", "s"},
                {"SCANSTEP", "1J", ""},
                {"POS_REQ", "1E", "um"},
                {"POS_END", "1E", "um"},
                {"LATE", "1L", ""},
                {"READ", "1L", ""},
                {"RETAKEN", "1L", ""}},
               rows, [&](fitsfile* f) {
                   int status = 0;
                   ffpcl(f, TINT, 1, 1, 1, rows, number.data(), &status);
                   ffpcls(f, 2, 1, 1, rows, startText.data(), &status);
                   ffpcld(f, 3, 1, 1, rows, exposure.data(), &status);
                   ffpcl(f, TINT, 4, 1, 1, rows, step.data(), &status);
                   ffpcle(f, 5, 1, 1, rows, requested.data(), &status);
                   ffpcle(f, 6, 1, 1, rows, ended.data(), &status);
                   ffpcll(f, 7, 1, 1, rows, late.data(), &status);
                   ffpcll(f, 8, 1, 1, rows, read.data(), &status);
                   ffpcll(f, 9, 1, 1, rows, retaken.data(), &status);
                   ffpkys(f, "TIMESYS", const_cast<char*>("UTC"), const_cast<char*>("EXPSTART is UTC"),
                          &status);
                   return status;
               });
}

// What makes an observation file and a flat file differ.
struct Product {
    const char* what;     // for the messages
    const char* suffix;   // of the file name
    int bitpix;
    const char* holds;    // "holds 12 pixels, not 20; no frames written"
    const char* values;
    const char* nothing;
};

// The skeleton both products share: checks, file, primary header, then the
// product's own cards and data (`body`), close and save time.
template <class T, class Body>
SaveResult Save(const Product& product, const ProductHeader& header, const ProductData<T>& data,
                const std::string& directory, Body body) {
    SaveResult result;
    if (!Acceptable(product.what, data.camera, data.naxis1, data.naxis2, data.naxis3))
        return result;
    const CameraLine& line = kLines[data.camera - 1];
    const size_t count = size_t(data.naxis1) * size_t(data.naxis2) * size_t(data.naxis3);

    SaveTimer timer;
    FitsOutput file;
    file.Create(directory, ProductFileName(os::UtcNow(), line.letter, product.suffix));
    result.path = file.path();
    file.CreateImage(product.bitpix, data.naxis1, data.naxis2, data.naxis3);
    file.Date();
    SettingsCards(file, header);
    bool complete = data.data != nullptr && data.available >= count;
    if (!complete && file.ok())
        ShowWarning(Warning::Save,
                    Format("\nFITS file %s: camera %d%s %zu %s, not %zu; %s\n", file.path().c_str(),
                           data.camera, product.holds, data.data ? data.available : 0,
                           product.values, count, product.nothing),
                    0);
    body(file, line, complete ? count : 0);
    if (header.frameTable && !header.frames.empty()) FrameTable(file, header.frames);
    // A file without its frames is not kept: it would look like a product.
    if (!complete) file.Discard();
    result.written = file.Close();
    timer.ShowOnMainPanel();
    if (result.written) ShowStatus("\nFile written: " + result.path + "\n");
    return result;
}

}  // namespace

std::string SaveOrOfferAnother(const std::string& what, const std::string& directory,
                               const std::function<SaveResult(const std::string&)>& save) {
    SaveResult result = save(directory);
    while (!result.written) {
        ShowWarning(Warning::Save,
                    Format("\nThe %s was not saved%s%s; its data stay in memory.\n", what.c_str(),
                           result.path.empty() ? "" : " to ", result.path.c_str()));
        std::string folder;
        if (ui::DirSelectPopup(directory,
                               "The " + what +
                                   " was not saved: choose another folder for it (Cancel keeps "
                                   "it in memory only)",
                               &folder) != 1)
            return "";
        ShowStatus(Format("\nSaving the %s into %s\n", what.c_str(), folder.c_str()));
        result = save(folder);
    }
    return result.path;
}

SaveResult SaveFits(const ProductHeader& header, const ProductData<uint16_t>& frames,
                    const std::string& directory) {
    const Product product{"Observation file", "", SHORT_IMG,
                          " holds",           "pixels", "no frames written"};
    return Save(product, header, frames, directory,
                [&](FitsOutput& file, const CameraLine& line, size_t count) {
                    ModeCards(file, header);
                    CameraCards(file, header, line);
                    file.Delete("COMMENT");
                    file.Delete("COMMENT");
                    file.Delete("EXTEND");
                    ObservationCards(file, header);
                    for (const std::string& text : header.closingComments) file.Comment(text);
                    // The frames go last, once the header is complete and cannot move them.
                    if (count > 0) file.Words(frames.data, count);
                });
}

SaveResult SaveFlatFits(const ProductHeader& header, const ProductData<float>& planes,
                        const std::string& directory) {
    const Product product{"Flat file", "_Flat", FLOAT_IMG, "'s flat holds", "values",
                                 "no planes written"};
    return Save(product, header, planes, directory,
                [&](FitsOutput& file, const CameraLine& line, size_t count) {
                    CameraCards(file, header, line);
                    if (count > 0) file.Floats(planes.data, count);
                    file.Delete("COMMENT");
                    file.Delete("COMMENT");
                    file.Delete("EXTEND");
                    file.Comment("BiasDark Subtracted");
                    file.Comment(Format("averaged image : %d at each grating angle",
                                        header.averagedFrames));
                });
}

}  // namespace pelu
