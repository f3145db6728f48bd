// The scanner's own values: the connection with the controller, the stage
// position, the scan's frame counts and poll pause, and the controller
// library's handle and entry points. One instance, `scanner`; the values
// other subsystems share are in the instrument state.
#pragma once

#include <atomic>
#include <cstdint>

namespace pelu {

using PmacOpenFn = int (*)(uint32_t device);
using PmacCloseFn = int (*)(uint32_t device);
using PmacTextFn = int (*)(uint32_t device, char* text, int size);
using PmacResponseFn = int (*)(uint32_t device, char* reply, uint32_t maxChars,
                               const char* command);
using PmacDownloadFn = int (*)(uint32_t device, void*, void*, void*, const char* path, int macro,
                               int map, int log, int download);
using PmacSetQuickGatherFn = int (*)(uint32_t device, uint32_t mask, int enable);
using PmacCollectGatherFn = int (*)(uint32_t device, int32_t* sources, int32_t* samples);
using PmacGatherSamplesFn = int (*)(uint32_t device, int source, int32_t* count, double* values,
                                    int32_t capacity);
using PmacIVariableFn = int32_t (*)(uint32_t device, int number, int32_t defaultValue);

// Pause between two polls of a running scan program, instrument milliseconds:
// short against a step, long enough to leave the processor to the window and
// the monitoring thread.
inline constexpr double kScanPollPauseMs = 1.0;

struct ScannerGlobals {
    std::atomic<int> bDriverOpen{0};     // result of the open call; non-zero while open
    const uint32_t dwDevice = 0;         // the controller's device number
    int g_nAmpOnSeq = 0;                 // amp-on sequence state: 0, 10, 20, 21, 30
    std::atomic<double> position{0.0};   // motor 1 position, controller counts
    std::atomic<float> step_size{0.0f};  // scan step of the program written last, stage units
    int g_nJogPosition = 0;              // absolute jog target of motor 1, counts
    // Frames of the last scan requested only after the stage had left their
    // position (their data show another part of the scan).
    std::atomic<int> g_nLateFrames{0};
    // Frames of the last scan's series that were never requested (the scan
    // ended or the scanner stopped answering before their position).
    std::atomic<int> g_nMissingFrames{0};
    // Frames of the last scan exposed off their step, and how many of them
    // were taken again at their step before the scan ended.
    std::atomic<int> g_nOffStepFrames{0};
    std::atomic<int> g_nRetakenFrames{0};
    // Scan positions of the last scan whose frames were requested: all of
    // them after a complete scan, fewer after one that was stopped or cut
    // short.
    std::atomic<int> g_nStepsTaken{0};
    // The poll pause in use (kScanPollPauseMs unless a benchmark sets another).
    double g_fScanPollPauseMs = kScanPollPauseMs;

    // The controller library's handle and its entry points; all null while
    // it is not loaded. Written only by RunLink and FreeLink on the
    // user-interface thread, while no other thread is inside the library
    // (see scanner.h).
    void* h_PmacLib = nullptr;
    PmacOpenFn DeviceOpen = nullptr;
    PmacCloseFn DeviceClose = nullptr;
    PmacTextFn DeviceGetRomVersion = nullptr;
    PmacTextFn DeviceGetRomDate = nullptr;
    PmacResponseFn DeviceGetResponse = nullptr;
    PmacDownloadFn DeviceDownload = nullptr;
    PmacSetQuickGatherFn DeviceSetQuickGather = nullptr;
    PmacCollectGatherFn DeviceCollectGatherData = nullptr;
    PmacGatherSamplesFn DeviceGetGatherSamples = nullptr;
    PmacIVariableFn DeviceGetIVariableLong = nullptr;
};

inline ScannerGlobals scanner;

}  // namespace pelu
