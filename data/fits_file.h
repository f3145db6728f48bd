// One FITS file being written through CFITSIO: creation under a name that
// never replaces an existing file, header cards, pixels, closing, and every
// CFITSIO failure reported in the status box with CFITSIO's own message.
// Shared by the observation, flat-field and bias/dark writers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <fitsio.h>

#include "platform/os/os.h"


namespace pelu {

// "PELU_20100812_031502_A" + kind + ".fts"; camera 1 is A, camera 2 B.
std::string ProductFileName(const os::UtcTime& time, char camera, const std::string& kind);

// The file name the series is written under in `hostFolder`: `name` when
// free, otherwise name_1.fts, name_2.fts, ... "" when all are taken.
std::string FreeFileName(const std::string& hostFolder, const std::string& name);

class FitsOutput {
public:
    FitsOutput() = default;
    FitsOutput(const FitsOutput&) = delete;
    FitsOutput& operator=(const FitsOutput&) = delete;
    ~FitsOutput();  // a file not closed with Close() is removed (a failed save)

    // Creates directory\name (logical path). A name already taken gets a
    // suffix and the status box says so; the name is created exclusively,
    // so two programs saving in the same second never share one. False, reported, when no file could
    // be created; every later call is then ignored.
    bool Create(const std::string& directory, const std::string& name);
    // Primary image of 2 axes when naxis3 is 1, else 3.
    void CreateImage(int bitpix, int naxis1, int naxis2, int naxis3);

    // Header cards. A card that cannot be written is reported and skipped:
    // one bad card must not cost the frames.
    void Date();
    void Float(const char* key, float value, const char* comment);
    void Unsigned(const char* key, unsigned value, const char* comment);
    void Int(const char* key, int value, const char* comment);
    void String(const char* key, const std::string& value, const char* comment);
    void Comment(const std::string& text);
    void Delete(const char* key);

    // Writes the image's 16-bit words as they are (no BZERO), big-endian.
    // The buffer is only read: the words are swapped a chunk at a time into
    // a scratch buffer of 1 MiB and written from there.
    void Words(const uint16_t* data, size_t count);
    // 32-bit float pixels.
    void Floats(const float* data, size_t count);

    // Appends a binary-table extension named `extname` after what is written
    // so far (the primary HDU is complete then) with `rows` rows; `write`
    // fills its columns through CFITSIO and returns CFITSIO's status.
    struct Column {
        const char* name;
        const char* form;
        const char* unit;
    };
    void Table(const char* extname, const std::vector<Column>& columns, long rows,
               const std::function<int(fitsfile*)>& write);

    // The file is not to be kept (what it was to hold is incomplete): Close
    // removes it.
    void Discard() { failed_ = true; }

    // Closes the file, flushes it to the disk and gives it its name, then
    // flushes the folder. False (reported) when anything failed on the way:
    // the file is then removed, so no file that looks finished is incomplete.
    bool Close();

    const std::string& path() const { return logicalPath_; }
    bool ok() const { return fptr_ != nullptr && status_ == 0; }

private:
    void Report(int status, const std::string& what);
    // Reports "FITS file <path> <text>" and marks the save failed.
    void Fail(const std::string& text);
    // Flushes the written file to the disk and gives it its reserved name.
    void MoveIntoPlace();
    // Removes the reserved name and the file being written (nothing created).
    void DropReservation();
    void CardStatus(int status, const char* key);

    fitsfile* fptr_ = nullptr;
    int status_ = 0;
    bool failed_ = false;
    std::string logicalPath_;
    std::string reservedHostPath_;  // the name created exclusively for this file
    std::string writingHostPath_;   // where CFITSIO writes until Close
};

}  // namespace pelu
