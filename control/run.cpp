// The observation run: what the Run control starts after the settings have
// configured the devices. One run records `sequential_number` repetitions
// of one acquisition pattern, chosen by which devices are on, the frames
// per series, the camera selection and the take mode.
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "camera/camera.h"
#include "camera/camera_lock.h"
#include "control/callbacks.h"
#include "control/save_products.h"
#include "control/work.h"
#include "data/fits_writer.h"
#include "data/statistics.h"
#include "display/display.h"
#include "display/views.h"
#include "motors/grating_focus.h"
#include "motors/wv_file.h"
#include "platform/camera_sdk/atmcd.h"
#include "platform/os/os.h"
#include "platform/os/realtime.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "scanner/scanner.h"
#include "state/camera_slot.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/progress.h"
#include "state/status.h"

namespace pelu {
namespace {

// Grating offsets of a flat-field run, in motor steps from the first entry
// of the wavelength table.
constexpr int kFlatOffsets[7] = {-110, -90, -30, 0, 20, 80, 115};
constexpr int kFlatPositions = 7;
// How long a scan waits for the stage to report its home position before
// the run gives up (instrument seconds).
constexpr double kHomeTimeoutSeconds = 120.0;

CameraSlot Camera(int number) { return CameraSlotNumbered(number); }

// Start and end texts of the last acquisition and the elapsed seconds per camera.
struct Timing {
    std::string start, end;
    float elapsed[3] = {0, 0, 0};  // by camera number
};

void ShowCounter(int n) { SetText(state.mainPanel, MAIN_SEQUENCE, Format("%d", n)); }

void ShowCameraViews(bool camera1, bool camera2) {
    ui::SetCtrlVal(state.mainPanel, MAIN_VIEW_CCD1, camera1 ? 1 : 0);
    ui::SetCtrlVal(state.mainPanel, MAIN_VIEW_CCD2, camera2 ? 1 : 0);
}

// Where the run is, for the progress area: repetition r of R (0: no
// repetitions), or grating position p of 7 in a flat-field run (0: none).
struct RunPlace {
    int repetition = 0, repetitions = 0;
    int flatPosition = 0;
    double scanStarted = 0.0;  // instrument seconds
    // The camera whose frames the display shows while they arrive, and what
    // it showed last.
    int shownHandle = 0;
    int shownFrames = 0;
    std::chrono::steady_clock::time_point shownAt{};
};
RunPlace g_place;

double InstrumentSeconds() {
    int64_t frequency = 0, count = 0;
    if (!os::QueryPerformanceFrequency(&frequency) || !os::QueryPerformanceCounter(&count) ||
        frequency <= 0)
        return 0.0;
    return double(count) / double(frequency);
}

// What a scan's progress line says; a few words, the line is narrow.
std::string ScanText(int signalled, int planned) {
    if (g_place.flatPosition > 0)
        return Format("Flat position %d of %d, scan step %d of %d", g_place.flatPosition,
                      kFlatPositions, signalled, planned);
    if (g_place.repetitions > 0)
        return Format("Scan step %d of %d, repetition %d of %d", signalled, planned,
                      g_place.repetition, g_place.repetitions);
    return Format("Scan step %d of %d", signalled, planned);
}

// The end of a repetition, the last one too: the run waits for the
// observer; Run goes on with the next repetition (after the last it ends the
// run), Stop or quitting ends the run. Says so in the status box and the
// progress area.
bool GoOn(LongWork& run, int done, int planned) {
    if (state.runStop != 0) return false;
    const bool last = done >= planned;
    ShowStatus(Format("\nRepetition %d of %d done: press %s.\n", done, planned,
                      last ? "Run or Stop to end the run" : "Run for the next one, Stop to end the run"));
    ShowProgress(Format("Repetition %d of %d done: %s", done, planned,
                        last ? "Run or Stop ends" : "Run or Stop"),
                 double(done) / planned, -1, -1);
    const bool goOn = run.WaitToGoOn();
    if (!goOn && !last)
        ShowStatus(Format("\nRun stopped after repetition %d of %d.\n", done, planned));
    return goOn && !last;
}

// The slice view of the frames taken so far, about ten times a second at
// most: drawn here, on the user-interface thread between two polls of the
// scan, never on the monitoring thread that takes the frames.
constexpr auto kArrivingFramesRedraw = std::chrono::milliseconds(100);

void ShowArrivingFrames(int signalled) {
    // The frame of a request still pending is being written: not shown yet.
    const int arrived = signalled - (state.take != 0 ? 1 : 0);
    const auto now = std::chrono::steady_clock::now();
    if (arrived < 1 || arrived == g_place.shownFrames ||
        now - g_place.shownAt < kArrivingFramesRedraw)
        return;
    const CameraSlot camera = CameraSlotOfHandle(g_place.shownHandle);
    if (!camera.known()) return;
    DisplayArrivingSlice(camera.handle, camera.width() / 2, arrived);
    g_place.shownFrames = arrived;
    g_place.shownAt = now;
}

// Called by the scan after every poll: how far the scan is.
void ShowScanProgress(int signalled, int planned) {
    ShowArrivingFrames(signalled);
    const double elapsed = InstrumentSeconds() - g_place.scanStarted;
    const double remaining =
        signalled > 0 && planned >= signalled ? elapsed / signalled * (planned - signalled) : -1.0;
    ShowProgress(ScanText(signalled, planned), planned > 0 ? double(signalled) / planned : 0.0,
                 elapsed, remaining);
}

// A run needs the buffers its pattern fills, sized for the series. They can
// be missing after a Cancel, a camera switch-off, or a camera choice changed
// without OK.
bool SeriesReady(const CameraSlot& camera, int frames) {
    const size_t need = camera.Plane() * size_t(frames < 1 ? 1 : frames);
    if (camera.handle != 0 && need > 0 && camera.raw->size() >= need) return true;
    ShowStatus(Format("\nRun refused: no frame buffer for CCD %d with these settings; "
                      "apply the settings (OK) again.\n",
                      camera.number));
    return false;
}

// One frame of `camera` into slot `frame` of its buffer, timed.
bool TakeFrame(const CameraSlot& camera, int frame, Timing* timing) {
    marktime_start(timing->start);
    bool ok;
    {
        CameraSession session(camera.handle);
        ok = TakeImage(camera.width(), camera.height(), camera.handle, frame);
    }
    marktime_end(timing->end);
    timing->elapsed[camera.number] = time_difference();
    if (!ok)
        ShowWarning(Warning::Frames,
                    Format("\nRun ended: CCD %d did not deliver its frame.\n", camera.number));
    return ok;
}

// A product saved into the data directory, or into another folder the
// observer chose when that failed. The run stops when it could not be
// saved at all, before the next series would overwrite its data.
std::string SaveForRun(const char* what, int camera,
                       const std::function<SaveResult(const std::string&)>& save) {
    const std::string product = Format("%s of CCD %d", what, camera);
    const std::string path = SaveOrOfferAnother(product, state.entire_directory, save);
    if (path.empty()) ShowStatus("\nRun ended: the " + product + " is in memory only.\n");
    return path;
}

// The path of the file written, "" when the series is in memory only.
std::string Save(const CameraSlot& camera, int frames, const Timing& timing) {
    ProductHeader header = GatherProductHeader(camera, state.g_fExpTime1, timing.start,
                                               timing.end, timing.elapsed[camera.number]);
    header.frames = SeriesRecords(camera, frames);
    const ProductData<uint16_t> data = SeriesData(camera, frames);
    return SaveForRun("series", camera.number, [&](const std::string& folder) {
        return SaveFits(header, data, folder);
    });
}

// The flat planes are the only copy of the flat run: released once they are
// on disk, kept when the file could not be written.
bool SaveFlat(const CameraSlot& camera, const Timing& timing,
              std::vector<FrameRecord> frames) {
    ProductHeader header = GatherProductHeader(camera, state.g_fExpTime1, timing.start,
                                               timing.end, timing.elapsed[camera.number]);
    header.frames = std::move(frames);
    const ProductData<float> data = FlatData(camera, kFlatPositions);
    const std::string path = SaveForRun("flat file", camera.number, [&](const std::string& folder) {
        return SaveFlatFits(header, data, folder);
    });
    if (path.empty()) return false;
    camera.flat->Free();
    camera.flatCube->Free();
    return true;
}

// Tells the observer how much of the planned series each camera stored in
// `file`; a short series is never reported as complete, and stands out. A
// frame counts when its record says the camera delivered it. Frames the
// camera failed to read are counted here; frames never requested were
// counted by the scan.
void ReportFrames(const CameraSlot& camera, int frames, const std::string& file) {
    const int stored = camera.frames->Stored(frames);
    if (stored >= frames) {
        ShowStatus(Format("\nCCD %d: frames stored %d of %d\n", camera.number, stored, frames));
        return;
    }
    int unread = 0;
    for (const FrameRecord& r : camera.frames->Records())
        if (r.index < frames && !r.read) ++unread;
    ShowWarning(Warning::Frames,
                Format("\nCCD %d: frames stored %d of %d - FRAMES MISSING in %s\n", camera.number,
                       stored, frames, file.c_str()),
                unread);
}

// A fresh series: no frame of the last one stays in the buffer or its records.
void StartSeries(const CameraSlot& camera, int frames) {
    camera.raw->Clear(camera.Plane() * size_t(frames));
    camera.frames->Start(frames);
}

// The stage must stand at home (strictly within +-0.3 and in position)
// before a scan starts. Polls every millisecond, the window answering
// meanwhile; gives up after a while, or when the observer stops the run.
bool WaitForHome() {
    const bool home = ui::WaitWithEvents(
        [] {
            const float position = state.scanpos;
            return (position > -0.3f && position < 0.3f && state.Scanner_InPosition == 1) ||
                   state.runStop != 0;
        },
        kHomeTimeoutSeconds, 5.0, 1.0);
    if (state.runStop != 0) return false;
    if (!home)
        ShowWarning(Warning::Device,
                    Format("\nRun ended: the scanner did not report its home position within "
                           "%.0f s.\n",
                           kHomeTimeoutSeconds));
    return home;
}

// How a scan ended, and how many of its steps took their frames.
struct ScanResult {
    enum { Complete, Stopped, Failed } end = Failed;
    int steps = 0;
};

// One scan with the stored program; frames are taken by the monitoring thread.
ScanResult Scan(const CameraSlot& camera, int takeMode, Timing* timing) {
    ScanResult result;
    if (!WaitForHome()) {
        if (state.runStop != 0) result.end = ScanResult::Stopped;
        return result;
    }
    marktime_start(timing->start);
    { CameraSession session(camera.handle); }
    g_place.scanStarted = InstrumentSeconds();
    g_place.shownHandle = camera.handle;
    g_place.shownFrames = 0;
    const int finished = ExecuteProgram(camera.handle, takeMode);
    marktime_end(timing->end);
    timing->elapsed[camera.number] = time_difference();
    result.steps = scanner.g_nStepsTaken;
    if (finished) {
        result.end = ScanResult::Complete;
    } else if (state.runStop != 0) {
        result.end = ScanResult::Stopped;
        ShowStatus(Format("\nStopped at step %d of %d\n", result.steps, state.g_nFrameNumber1.load()));
    } else {
        ShowStatus("\nRun ended: the scan program did not run to its end.\n");
    }
    return result;
}

// The frames a stopped scan took are kept: the first `steps` frames of the
// series, in a file that says where the scan stopped. No file for a scan
// stopped before its first frame.
bool SaveStopped(const CameraSlot& camera, int steps, int frames, const Timing& timing) {
    if (steps < 1) {
        ShowStatus(Format("\nCCD %d: no frame was taken before the stop; no file written.\n",
                          camera.number));
        return true;
    }
    ProductHeader header = GatherProductHeader(camera, state.g_fExpTime1, timing.start,
                                               timing.end, timing.elapsed[camera.number]);
    header.frames = SeriesRecords(camera, steps);
    header.closingComments = {Format("Scan stopped at step %d of %d", steps, frames)};
    const ProductData<uint16_t> data = SeriesData(camera, steps);
    const std::string file = SaveForRun("series", camera.number, [&](const std::string& folder) {
        return SaveFits(header, data, folder);
    });
    if (file.empty()) return false;
    ReportFrames(camera, steps, file);
    return true;
}

void SeriesDisplaySetUp(int frames) {
    SetDimmed(state.mainPanel, MAIN_FRAME, false);
    SetDimmed(state.mainPanel, MAIN_VIEW, false);
    ui::SetCtrlAttribute(state.mainPanel, MAIN_FRAME, ui::ATTR_MIN_VALUE, 0);
    ui::SetCtrlAttribute(state.mainPanel, MAIN_FRAME, ui::ATTR_MAX_VALUE, frames - 1);
    ui::SetCtrlVal(state.mainPanel, MAIN_FRAME, 0);
}

void ShowSliceOfNewSeries(const CameraSlot& camera) {
    int max = 0, min = 0;
    Display3D_CCD(1, camera.width() / 2, &max, &min, camera.handle);
}

// ---- single frames -------------------------------------------------------------------------

void SingleFrames(LongWork& run) {
    SetDimmed(state.mainPanel, MAIN_PICTURE, false);
    const int selection = state.ccd_camera;
    if (selection == kFlatFielding) return;
    const bool both = selection == kBothCameras || selection == kBothCamerasEachStep;
    const CameraSlot first = Camera(selection == kCameraTwo ? 2 : 1);
    const CameraSlot second = Camera(2);
    if (!SeriesReady(first, 1) || (both && !SeriesReady(second, 1))) return;
    Timing timing;
    const int repetitions = state.sequential_number;
    for (int i = 0; i < repetitions; ++i) {
        StartSeries(first, 1);
        if (both) StartSeries(second, 1);
        ShowCounter(i + 1);
        ShowProgress(Format("Single frame, repetition %d of %d", i + 1, repetitions),
                     double(i) / repetitions, -1, -1);
        if (!TakeFrame(first, 0, &timing)) break;
        if (both && !TakeFrame(second, 0, &timing)) break;
        if (Save(first, 1, timing).empty()) break;
        if (both && Save(second, 1, timing).empty()) break;
        // Each frame is shown as it is taken, not only after the last.
        DisplayCCDImage(first.width(), first.height(), 1, first.handle);
        ui::DelayWithEvents(1.0);
        if (!GoOn(run, i + 1, repetitions)) break;
    }
    SetDimmed(state.mainPanel, MAIN_PICTURE, false);
    if (both) ui::MarkOption(state.mainPanel, MAIN_VIEW, 0);
    DisplayCCDImage(first.width(), first.height(), 1, first.handle);
    { CameraSession session(first.handle); }
    ShowCameraViews(first.number == 1, first.number == 2);
}

// ---- live view -----------------------------------------------------------------------------

int LiveViewThreadFunction() {
    int32_t current = 0;
    {
        CameraLock lock;
        GetCurrentCamera(&current);
    }
    const CameraSlot camera = CameraSlotOfHandle(current);
    const bool known = camera.known();
    while (state.threadparam == 0) {
        if (!known || camera.raw->size() < camera.Plane() || camera.Plane() == 0) {
            os::Sleep(10);
            continue;
        }
        {
            CameraSession session(camera.handle);
            TakeImage(camera.width(), camera.height(), camera.handle, 0);
        }
        DisplayCCDImage(camera.width(), camera.height(), 1, camera.handle);
    }
    return 0;
}

void LiveView() {
    if (state.Scanner_status != kDeviceOn) {
        if (state.ccd_camera == kCameraOne) {
            CameraSession session(state.nCameraHandle1);
        } else if (state.ccd_camera == kCameraTwo) {
            CameraSession session(state.nCameraHandle2);
        }
    }
    SetDimmed(state.mainPanel, MAIN_PICTURE, false);
    state.threadparam = 0;
    int id = 0;
    ui::ScheduleThreadFunction(LiveViewThreadFunction, &id);
    state.threadfunctionID = id;
    ui::WaitForThreadFunctionCompletion(id);
    ui::ReleaseThreadFunctionID(id);
    state.threadfunctionID = 0;
}

// ---- frame-transfer series -------------------------------------------------------------------

void FrameTransferSeries(LongWork& run) {
    const int frames = state.g_nFrameNumber1;
    const int selection = state.ccd_camera;
    const int repetitions = state.sequential_number;
    if (selection != kCameraOne && selection != kCameraTwo) {
        for (int i = 0; i < repetitions; ++i) {
            ShowCounter(i + 1);
            if (!GoOn(run, i + 1, repetitions)) break;
        }
        return;
    }
    const CameraSlot camera = Camera(selection == kCameraTwo ? 2 : 1);
    if (!SeriesReady(camera, frames)) return;
    Timing timing;
    for (int i = 0; i < repetitions; ++i) {
        ShowCounter(i + 1);
        ShowProgress(Format("Frame-transfer series, repetition %d of %d", i + 1, repetitions),
                     double(i) / repetitions, -1, -1);
        StartSeries(camera, frames);
        marktime_start(timing.start);
        bool ok;
        {
            CameraSession session(camera.handle);
            ok = TakeImage_FTmode(camera.width(), camera.height(), frames, camera.handle);
        }
        marktime_end(timing.end);
        timing.elapsed[camera.number] = time_difference();
        if (!ok) {
            ShowWarning(Warning::Frames,
                        Format("\nRun ended: CCD %d did not deliver its series.\n", camera.number),
                        frames);
            break;
        }
        const std::string file = Save(camera, frames, timing);
        if (file.empty()) break;
        ReportFrames(camera, frames, file);
        DisplayCCDImage(camera.width(), camera.height(), frames, camera.handle);
        ShowCameraViews(camera.number == 1, camera.number == 2);
        if (!GoOn(run, i + 1, repetitions)) break;
    }
}

// ---- scans ------------------------------------------------------------------------------------

void ScanningSequence(LongWork& run) {
    const int frames = state.g_nFrameNumber1;
    const int selection = state.ccd_camera;
    const int repetitions = state.sequential_number;
    const CameraSlot one = Camera(1), two = Camera(2);
    Timing timing;
    g_place.repetitions = repetitions;
    if (selection == kCameraOne || selection == kCameraTwo) {
        const CameraSlot camera = selection == kCameraTwo ? two : one;
        if (!SeriesReady(camera, frames)) return;
        state.pelu_take_mode = 0;
        for (int i = 0; i < repetitions; ++i) {
            // From the scan until its series is on disk the run goes ahead of
            // other work on the computer where the system allows it (the
            // scan says once when it does not).
            const os::RealTimeSection ahead(os::kScanWatchPriority);
            StartSeries(camera, frames);
            ShowCounter(i + 1);
            g_place.repetition = i + 1;
            const ScanResult scan = Scan(camera, 0, &timing);
            if (scan.end == ScanResult::Stopped) SaveStopped(camera, scan.steps, frames, timing);
            if (scan.end != ScanResult::Complete) break;
            const std::string file = Save(camera, frames, timing);
            if (file.empty()) break;
            ReportFrames(camera, frames, file);
            ShowSliceOfNewSeries(camera);
            if (!GoOn(run, i + 1, repetitions)) break;
        }
        SetDimmed(state.mainPanel, MAIN_PICTURE, false);
        ui::MarkOption(state.mainPanel, MAIN_VIEW, 0);
        DisplayCCDImage(camera.width(), camera.height(), frames, camera.handle);
        { CameraSession session(camera.handle); }
        ShowCameraViews(camera.number == 1, camera.number == 2);
        return;
    }
    // Both cameras: one scan each (2) or both in every step (3).
    if (!SeriesReady(one, frames) || !SeriesReady(two, frames)) return;
    for (int i = 0; i < repetitions; ++i) {
        const os::RealTimeSection ahead(os::kScanWatchPriority);  // as above
        StartSeries(one, frames);
        StartSeries(two, frames);
        ShowCounter(i + 1);
        g_place.repetition = i + 1;
        if (selection == kBothCameras) {
            state.pelu_take_mode = 0;
            const ScanResult first = Scan(one, 0, &timing);
            if (first.end == ScanResult::Stopped) SaveStopped(one, first.steps, frames, timing);
            if (first.end != ScanResult::Complete) break;
            const ScanResult second = Scan(two, 0, &timing);  // the stage went home again
            if (second.end == ScanResult::Stopped) {
                const std::string fileOne = Save(one, frames, timing);
                if (!fileOne.empty()) ReportFrames(one, frames, fileOne);
                SaveStopped(two, second.steps, frames, timing);
            }
            if (second.end != ScanResult::Complete) break;
        } else {
            state.pelu_take_mode = 1;
            const ScanResult scan = Scan(one, 1, &timing);
            timing.elapsed[2] = timing.elapsed[1];
            if (scan.end == ScanResult::Stopped) {
                SaveStopped(one, scan.steps, frames, timing);
                SaveStopped(two, scan.steps, frames, timing);
            }
            if (scan.end != ScanResult::Complete) break;
        }
        const std::string fileOne = Save(one, frames, timing);
        const std::string fileTwo = Save(two, frames, timing);
        if (fileOne.empty() || fileTwo.empty()) break;
        ReportFrames(one, frames, fileOne);
        ReportFrames(two, frames, fileTwo);
        { CameraSession session(one.handle); }
        ui::MarkOption(state.mainPanel, MAIN_VIEW, 0);
        ShowSliceOfNewSeries(one);
        if (!GoOn(run, i + 1, repetitions)) break;
    }
    SetDimmed(state.mainPanel, MAIN_PICTURE, false);
    { CameraSession session(one.handle); }
    DisplayCCDImage(one.width(), one.height(), frames, one.handle);
    ShowCameraViews(true, false);
}

// ---- flat field ------------------------------------------------------------------------------

// The flat run reads the flat buffers and the bias/dark frames the settings
// OK prepared; the flat save releases them, and opening the dialog discards
// the bias/dark frames.
bool FlatBuffersReady(const CameraSlot& camera, int frames) {
    const size_t plane = camera.Plane();
    const Buffer<float>& flat = *camera.flat;
    const Buffer<float>& cube = *camera.flatCube;
    const Buffer<uint16_t>& biasDark = *camera.biasDark;
    if (SeriesReady(camera, frames) && plane > 0 && flat.size() >= plane &&
        cube.size() >= kFlatPositions * plane && biasDark.size() >= plane)
        return true;
    ShowStatus(Format("\nFlat-field run refused: the flat buffers or the bias/dark frame of CCD %d "
                      "are missing; apply the settings (OK) again.\n",
                      camera.number));
    return false;
}

// Averages the series into the accumulator, subtracts the bias/dark frame and
// stores the result as plane `position` of the flat cube.
void AccumulateFlat(const CameraSlot& camera, int frames, int position) {
    float* flat = camera.flat->get();
    float* cube = camera.flatCube->get();
    const uint16_t* biasDark = camera.biasDark->get();
    const size_t plane = camera.Plane();
    const uint16_t* raw = camera.raw->get();
    // Only the frames the camera delivered go into the average.
    int averaged = 0;
    for (const FrameRecord& record : camera.frames->Records()) {
        if (!record.read || record.index >= frames) continue;
        ++averaged;
        for (size_t i = 0; i < plane; ++i) flat[i] += raw[plane * size_t(record.index) + i];
    }
    const float divisor = static_cast<float>(averaged > 0 ? averaged : frames);
    float* target = cube + plane * size_t(position);
    for (size_t i = 0; i < plane; ++i) {
        flat[i] = flat[i] / divisor - biasDark[i];
        target[i] = flat[i];
    }
}

void FlatFieldRun() {
    const int frames = state.g_nFrameNumber1;
    const CameraSlot one = Camera(1), two = Camera(2);
    if (!FlatBuffersReady(one, frames) || !FlatBuffersReady(two, frames)) return;
    if (wvTable.nWV_FileIO < 1) {
        ShowStatus("\nFlat-field run refused: the wavelength table is empty.\n");
        return;
    }
    SetDimmed(state.mainPanel, MAIN_PICTURE, true);
    const int base = wvTable.Data[0].step;
    Timing timing;
    bool complete = true;
    std::vector<FrameRecord> flatFrames[2];
    for (int p = 0; p < kFlatPositions; ++p) {
        const int step = base + kFlatOffsets[p];
        g_place.flatPosition = p + 1;
        ShowProgress(Format("Flat position %d of %d: moving the grating", p + 1, kFlatPositions),
                     double(p) / kFlatPositions, -1, -1);
        Gratingtracking(2, step);
        ShowStatus(Format("%d th Grating Position : %d\n", p + 1, step));
        ShowStatus(Format("Flat field: grating position %d of %d\n", p + 1, kFlatPositions));
        ShowCounter(p + 1);
        state.pelu_take_mode = 1;
        StartSeries(one, frames);
        StartSeries(two, frames);
        one.flat->Clear(one.Plane());
        two.flat->Clear(two.Plane());
        if (state.runStop != 0 || Scan(one, 1, &timing).end != ScanResult::Complete) {
            complete = false;
            break;
        }
        timing.elapsed[2] = timing.elapsed[1];
        ReportFrames(one, frames, "the flat run");
        ReportFrames(two, frames, "the flat run");
        AccumulateFlat(one, frames, p);
        AccumulateFlat(two, frames, p);
        // The flat file's table lists every frame of the run, numbered
        // through the grating positions.
        for (int c = 0; c < 2; ++c)
            for (FrameRecord record : SeriesRecords(c == 0 ? one : two, frames)) {
                record.index += p * frames;
                flatFrames[c].push_back(record);
            }
        DisplayCCDImage(one.width(), one.height(), frames, one.handle);
    }
    g_place.flatPosition = 0;
    if (complete) {
        SaveFlat(one, timing, std::move(flatFrames[0]));
        SaveFlat(two, timing, std::move(flatFrames[1]));
    } else {
        ShowStatus("\nThe flat-field run was not completed: no flat file was written.\n");
    }
    Gratingtracking(2, base);
}

// Why a Run with these settings and devices would do nothing, in one line;
// empty when it has work to do.
std::string WhyRunCannotStart(int frames, int takeMode) {
    if (state.CCD_status != kDeviceOn)
        return "the cameras are off. Switch them on (CCD switch), then apply the settings (OK).";
    if (frames < 0)
        return Format("the settings hold %d frames. Set Frames on the Camera page and press OK.",
                      frames);
    if (frames >= 2 && state.Scanner_status != kDeviceOn && takeMode != 6)
        return Format(
            "a series of %d frames is taken at the scan steps and the scanner is off. "
            "Switch the scanner on, or choose \"Frame transfer series\" on the Camera "
            "page.",
            frames);
    return "";
}

}  // namespace

int cmd_Run(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    // Between repetitions Run goes on; at any other time of a run (or other
    // work) a second run cannot start.
    if (ContinueWaitingRun() || RefuseWhileBusy("Run")) return 0;
    {
        const int page = SettingsPage(SETTINGS_TAB, CAMERA_PAGE_INDEX);
        const std::string why =
            WhyRunCannotStart(state.g_nFrameNumber1, GetInt(page, CAMERA_PAGE_TAKEMODE));
        if (!why.empty()) {
            ShowStatus("\nRun not started: " + why + "\n");
            return 0;
        }
    }
    LongWork run(Work::Run);
    if (!run.Started()) return 0;
    g_place = RunPlace{};
    SetScanPollHook(ShowScanProgress);
    ShowProgress("Run starting", 0.0, -1, -1);
    const RunWarnings warnings;
    SetDimmed(state.mainPanel, MAIN_PICTURE, true);
    SetDimmed(state.mainPanel, MAIN_VIEW_CCD1, true);
    SetDimmed(state.mainPanel, MAIN_VIEW_CCD2, true);
    const int camera = SettingsPage(SETTINGS_TAB, CAMERA_PAGE_INDEX);
    const int takeMode = GetInt(camera, CAMERA_PAGE_TAKEMODE);
    int64_t frequency = 0;
    if (!os::QueryPerformanceFrequency(&frequency))
        ui::MessagePopup("Error", "Cannot support the timer of high resolution");
    state.gliFreq = frequency;
    ui::DelayWithEvents(0.5);

    const int frames = state.g_nFrameNumber1;
    if (state.CCD_status == kDeviceOn && state.runStop == 0) {
        if (frames == 1) {
            SingleFrames(run);
        } else if (frames == 0) {
            LiveView();
        } else if (frames >= 2 && state.Scanner_status != kDeviceOn) {
            if (takeMode == 6) FrameTransferSeries(run);
        } else if (frames >= 2) {
            if (state.ccd_camera == kFlatFielding) FlatFieldRun();
            else ScanningSequence(run);
            SeriesDisplaySetUp(frames);
        }
    }
    SetScanPollHook(nullptr);
    ClearProgress(state.runStop != 0 ? "Run stopped" : "Run ended");

    state.DataSource = 1;
    if (state.ccd_camera == kBothCameras || state.ccd_camera == kBothCamerasEachStep) {
        SetDimmed(state.mainPanel, MAIN_VIEW_CCD1, false);
        SetDimmed(state.mainPanel, MAIN_VIEW_CCD2, false);
        ShowCameraViews(true, false);
    }
    warnings.ShowSummary();
    return 0;
}

int cmdStop(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    state.threadparam = 1;  // a live view ends
    RequestRunStop();
    return 0;
}

}  // namespace pelu
