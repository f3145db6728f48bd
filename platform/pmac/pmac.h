// The scanner controller library's C interface, as the programs bind it at
// run time (dlopen, then dlsym by these names). Our simulated controller
// implements it (controller.cpp); a vendor library with the same entry
// points could be put in its place.
//
// Calls return non-zero on success. Device 0 is the only device.
#pragma once

#include <cstdint>

extern "C" {

// Opens the link to the controller. Non-zero = open.
int OpenPmacDevice(uint32_t device);
// Closes the link. Non-zero = closed.
int ClosePmacDevice(uint32_t device);
// Firmware version and date, at most size - 1 characters and a NUL.
int PmacGetRomVersionA(uint32_t device, char* text, int size);
int PmacGetRomDateA(uint32_t device, char* text, int size);
// Sends one command line; the reply (without line ends) comes back NUL
// terminated in at most maxChars characters. Returns the reply's length, or
// 0 when the controller did not answer.
int PmacGetResponseA(uint32_t device, char* reply, uint32_t maxChars, const char* command);
// Downloads a motion program file (text, CR LF or LF lines). The four flags
// ask for macro expansion, mapping, a log and the download itself; only the
// download is done. Non-zero = every line was accepted.
int PmacDownloadA(uint32_t device, void* messageCallback, void* getCallback,
                  void* progressCallback, const char* path, int macro, int map, int log,
                  int download);
// Selects the quick-gather sources of motor 1 (bit 0 commanded position,
// bit 8 actual position, bit 16 DAC output) and switches the set-up on.
int PmacSetQuickGather(uint32_t device, uint32_t mask, int enable);
// Ends gathering and makes the gathered samples available: *sources gets
// the number of sources, *samples the number of samples per source.
int PmacCollectGatherData(uint32_t device, int32_t* sources, int32_t* samples);
// Copies up to `capacity` samples of source 0, 1 or 2 (in the order of the
// mask's bits) into values; *count gets the number copied.
int PmacGetGatherSamples(uint32_t device, int source, int32_t* count, double* values,
                         int32_t capacity);
// Value of I-variable `number`, or defaultValue when it cannot be read.
int32_t PmacGetIVariableLong(uint32_t device, int number, int32_t defaultValue);

// The library's version text (optional in a site's library).
const char* PeluDeviceLibraryVersion(void);

// ---- the simulator's own entry points (absent from a vendor library) ----------

// Runs the simulated stage on the instrument's clock: real seconds =
// controller seconds x scale.
void PmacSimulatorTimeScale(double scale);
// Configures the simulator and reads its record (tests, demos). Commands:
//   reset                      a fresh controller (faults cleared, trace empty)
//   fault none|no_controller|amp_unpowered|no_reply
//   position COUNTS            where the stage stands before homing
//   reply_us MICROSECONDS      time the link takes for one command
//   trace                      every command received, one per line
//   clear_trace
//   stage                      where the stage stands now, in counts
//   step_times                 "n nanoseconds" per line: when the step counter
//                              p1 took the value n (steady clock)
// Returns non-zero when the command was understood.
int PmacSimulatorCommand(const char* command, char* reply, int size);

}  // extern "C"
