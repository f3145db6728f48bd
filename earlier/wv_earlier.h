// Wv.ini as the one-camera program keeps it (not the layout PELU_dbg and
// Lintab share; the two are not interchangeable), and the wavelength list of
// its device test panel.
//
// Layout (little-endian): a 1000-byte header of ten 100-byte text slots,
// slot 0 "NUMBER OF WV    = %d", slot 1 "CURRENT_SELECT  = %d", slot 2
// "STARTING POS    = %d", every other byte zero; then NUMBER OF WV records
// of 12 bytes: float32 wavelength (angstrom), int32 grating motor step,
// float32 grating angle (degrees). The table holds at most 10 entries.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace pelu::earlier {

constexpr int kMaxWvEntries = 10;
constexpr int kWvHeaderBytes = 1000;
constexpr int kWvSlotBytes = 100;
constexpr int kWvEntryBytes = 12;
inline const char* const kWvFile = "Wv.ini";

struct WvEntry {
    float wavelength = 0;  // angstrom
    int32_t step = 0;      // grating motor position
    float angle = 0;       // degrees
};

struct WvTable {
    std::array<WvEntry, kMaxWvEntries> Data{};
    int nWV_FileIO = 0;              // valid entries, 0..10
    int CurrentSelectWV_FileIO = 0;  // 0-based selected entry
    int StartingPos = 0;
};
inline WvTable wvTable;

// Back to an empty table (tests).
void ResetWvTable();

// Reads `path` into wvTable; 1 on success. A file that cannot be opened
// gets the popup "Error" / "Cannot open file Wv.ini", returns 0 and leaves
// the table as it was. A count above 10 reads 10 entries, a file that ends
// early the entries it holds; a popup says so either way, and nWV_FileIO is
// the number actually read.
int OpenFileF(const std::string& path = kWvFile);
// Parses the header of a file opened at its start. A key that is absent or
// has no number leaves its value unchanged. Returns 1.
int ReadHeader(std::FILE* file);
// Reads header and records of an open file into the table, as OpenFileF does.
int ReadWvTable(std::FILE* file);
// Writes wvTable to `path`, replacing it; 1 on success, 0 with the popup
// "Error" / "Cannot open file Wv.ini" when it cannot be written.
int WriteFileF(const std::string& path = kWvFile);
// Writes the 1000-byte header; 1 on success.
int WriteHeader(std::FILE* file);

// ---- wavelength list of the device test panel ------------------------------------

// Deletes every item of the test panel's list.
void ResetPanel();
// Shows count, starting position and selection and fills the list.
void InitPanel();
// Shows entry `index` in the wavelength, step and angle fields.
void PrintWvStepAngle(int index);
// Takes the wavelength, step and angle fields into the table: an existing
// wavelength gets the new step and angle, a new one is appended. A full
// table takes no new entry and says why. Returns 1 when the table changed.
int InsertData();
// Removes entry `index`, moving the later entries down. An index outside
// the table (no row selected, an empty table) removes nothing. Returns 1
// when an entry was removed.
int DelData(int index);

// Reads Wv.ini and fills the settings dialog's wavelength list, selecting
// the stored selection. Returns 1, or 0 after the popup when the file
// cannot be opened.
int InitWvRing(const std::string& path = kWvFile);

int WvListBoxF(int panel, int control, int event, void* data, int eventData1, int eventData2);
int InsertBTNF(int panel, int control, int event, void* data, int eventData1, int eventData2);
int DelBTNF(int panel, int control, int event, void* data, int eventData1, int eventData2);
int WriteFileBTNF(int panel, int control, int event, void* data, int eventData1, int eventData2);

}  // namespace pelu::earlier
