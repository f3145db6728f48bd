// Scan motion programs: generation of PELU.pmc from the site templates, its
// download, and the execution of a scan with one frame request per scan
// position reached.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/os/os.h"
#include "platform/os/realtime.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "scanner/controller_access.h"
#include "scanner/frame_repair.h"
#include "scanner/runtime.h"
#include "scanner/scanner.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

using detail::WithController;

const char* const kHeadFile = "pelu.head";
const char* const kTailFile = "pelu.tail";
const char* const kProgramFile = "PELU.pmc";
// Templates are a few lines; anything larger is not one.
constexpr long kMaxTemplateBytes = 64 * 1024;
// How long the end of a scan waits for the monitoring thread to store the
// last frame, instrument seconds.
constexpr double kLastFrameWaitSeconds = 60.0;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Where the scan program files of this program live.
std::string ProgramFilePath(const char* name) {
    const auto folder = CurrentScannerEdition().programFolder;
    const std::string directory = folder != nullptr ? folder() : std::string();
    if (directory.empty()) return name;
    return directory.back() == '/' ? directory + name : directory + "/" + name;
}

File OpenFile(const std::string& logicalPath, const char* mode) {
    const std::string host = os::HostPath(logicalPath);
    if (host.empty()) return nullptr;
    return File(std::fopen(host.c_str(), mode));
}

// A template's bytes, or nothing when it cannot be read whole.
std::optional<std::string> ReadTemplate(const char* name) {
    File file = OpenFile(ProgramFilePath(name), "rb");
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) return std::nullopt;
    const long length = std::ftell(file.get());
    if (length < 0 || length > kMaxTemplateBytes || std::fseek(file.get(), 0, SEEK_SET) != 0)
        return std::nullopt;
    std::string bytes(static_cast<size_t>(length), '\0');
    if (length > 0 && std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        return std::nullopt;
    return bytes;
}

// Writes `text`; false when not all of it reached the file.
bool WriteText(FILE* file, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

// Why the controller may not hold the program of the settings confirmed
// last; empty when the last program was written and downloaded.
std::string g_programNotReady;

// Instrument seconds the program written last takes by its own parameters;
// 0 when unknown (no program written yet, or no block in it).
double g_programSeconds = 0.0;

// A scan may take its program's own duration twice over, plus a margin for
// the stage's ramps, the camera and a loaded host; a program of unknown
// duration gets an hour. Past that the program is taken as hung.
constexpr double kScanMarginSeconds = 30.0;
constexpr double kUnknownScanSeconds = 3600.0;

double ScanTimeLimitSeconds() {
    return g_programSeconds > 0.0 ? 2.0 * g_programSeconds + kScanMarginSeconds
                                  : kUnknownScanSeconds;
}

// Instrument seconds since an arbitrary origin.
double InstrumentSeconds() {
    int64_t frequency = 0, count = 0;
    if (!os::QueryPerformanceFrequency(&frequency) || !os::QueryPerformanceCounter(&count) ||
        frequency <= 0)
        return 0.0;
    return static_cast<double>(count) / static_cast<double>(frequency);
}

// The observer's Stop, or the program being quit, ends a scan.
bool ScanStopRequested() { return state.runStop != 0 || ui::QuitRequested(); }

ScanPollHook g_pollHook = nullptr;

// The frame requests of one scan. A scan position is signalled once, in
// order, and only when the previous request has been served, so that no
// request overwrites one the monitoring thread has not read yet. A request
// raised after the stage has gone past its position (a slow camera or a
// starved host) still fills the frame, but is counted as late: its frame
// shows another part of the scan than its place in the series says.
class FrameRequests {
public:
    explicit FrameRequests(int frames) : frames_(frames) {}

    // Step mode: the program's step counter says how many steps are done;
    // the next one counts once the stage has travelled it. It is late when
    // the counter has already moved past it, or when the program (and with
    // it the stage's way back) has ended.
    void PollSteps(bool programEnded) {
        std::string reply;
        if (!PmacPoll("p1", &reply)) {
            LogPollReply("p1", reply, false);
            return;
        }
        ShowStep(CurrentScannerEdition().stepDisplayShowsFrames ? Format("%d", signalled_) : reply);
        int done = 0;  // a reply that is no number counts as no step done
        ParseReplyInteger(reply, &done);
        const int next = signalled_ + 1;
        // The stage's own position now, not the monitoring loop's last reading.
        if (next <= done && Room() && !programEnded) QueryPosition();
        if (next <= done && Room() &&
            (programEnded || scanner.position - kCountsPerUnit * next * scanner.step_size >= 0.0))
            Raise(next, programEnded || done > next);
        LogPollReply("p1", reply);
    }

    // Continuous mode: a frame when the stage has passed the next position
    // by half a step; late when it is more than a step past it. Positions
    // count from the furthest point the stage has reached, because the
    // program's tail drives it home again: requests still pending when the
    // stroke ends (a slow camera or a starved host) are served on the way
    // back, late, instead of being lost. Once the program has ended the whole
    // stroke has been travelled and every remaining frame is due.
    void PollStroke(bool programEnded) {
        ShowStep(Format("%d", signalled_));
        if (!programEnded) QueryPosition();
        furthest_ = std::max(furthest_, scanner.position.load());
        if (!Room()) return;
        if (programEnded && frames_ > 0) {
            Raise(signalled_ + 1, true);
            return;
        }
        const double step = scanner.step_size;
        const double past = furthest_ - kCountsPerUnit * signalled_ * step;
        if (past >= 5.0 * step) Raise(signalled_ + 1, past >= 15.0 * step);
    }

    int Frames() const { return frames_; }
    int Signalled() const { return signalled_; }
    int Late() const { return late_; }
    // Frames of the series that were never requested.
    int Missing() const { return frames_ > signalled_ ? frames_ - signalled_ : 0; }

private:
    void ShowStep(const std::string& text) {
        if (text == shownStep_) return;
        SetText(state.mainPanel, MAIN_STEP, text);
        shownStep_ = text;
    }
    bool Room() const { return state.take == 0 && (frames_ <= 0 || signalled_ < frames_); }
    void Raise(int frame, bool late) {
        state.Scanpos_CCDframe = frame;
        state.Scanpos_late = late ? 1 : 0;
        state.Scanpos_requested = static_cast<float>(scanner.position / kCountsPerUnit);
        state.take = 1;
        signalled_ = frame;
        late_ += late ? 1 : 0;
    }

    int frames_;
    double furthest_ = 0.0;
    int signalled_ = 0;
    int late_ = 0;
    std::string shownStep_;
};

// For the lifetime of a scan: the thread that watches the program runs
// ahead of other work where the system allows it (the frame requests are
// raised from here), and the series stay in memory.
class ScanPriority {
  public:
    ScanPriority() : realTime_(os::kScanWatchPriority) {
        if (!realTime_.granted()) ShowRealTimeRefused(realTime_.refusal());
        for (const Buffer<uint16_t>* raw : {&state.g_pRawData, &state.g_pRawData2}) {
            if (!*raw) continue;
            const std::string refused = os::LockMemory(raw->get(), raw->size() * sizeof(uint16_t));
            if (!refused.empty()) {
                ShowMemoryLockRefused(refused);
                continue;
            }
            locked_.push_back({raw->get(), raw->size() * sizeof(uint16_t)});
        }
    }
    ~ScanPriority() {
        for (const auto& [data, bytes] : locked_) os::UnlockMemory(data, bytes);
    }
    ScanPriority(const ScanPriority&) = delete;
    ScanPriority& operator=(const ScanPriority&) = delete;

  private:
    os::RealTimeSection realTime_;
    std::vector<std::pair<const void*, size_t>> locked_;
};

// Waits until the monitoring thread has served the pending request. False
// when it does not within the limit or the connection ends. The window
// answers meanwhile.
bool WaitForFrameTaken() {
    ui::WaitWithEvents([] { return state.take == 0 || state.PmacAccessible == 0; },
                       kLastFrameWaitSeconds, 5.0);
    return state.take == 0;
}

}  // namespace

int ScanCommandWrite(int count, float step_time, float step, float feedrate, float stroke) {
    const std::optional<std::string> head = ReadTemplate(kHeadFile);
    const std::optional<std::string> tail = ReadTemplate(kTailFile);
    if (!head || !tail) {
        // Downloading the previous program would run a stale scan: the old
        // program stays on the controller and scans are refused until a
        // program is generated again.
        const char* missing = head ? kTailFile : kHeadFile;
        ShowStatus(Format("\nCannot read the scan template %s: scan program not generated\n",
                          missing));
        g_programNotReady = Format("the scan template %s could not be read", missing);
        return 0;
    }
    const std::string path = ProgramFilePath(kProgramFile);
    File program = OpenFile(path, "wb");
    if (!program) {
        ShowStatus(Format("\nCannot write %s: scan program not generated\n", kProgramFile));
        g_programNotReady = Format("%s could not be written", kProgramFile);
        return 0;
    }
    bool written = WriteText(program.get(), *head) && WriteText(program.get(), "\r\n");
    double seconds = 0.0;
    if (feedrate == 0.0f && stroke == 0.0f) {
        scanner.step_size = step;
        written = written &&
                  WriteText(program.get(),
                            Format("i130=120000\r\ni131=4000\r\ni132=4000\r\ni133=40000\r\ni134=0\r\n"
                                   "i135=20000\r\ninc\r\nta%3.f\r\nts%3.f\r\np1=0\r\nWhile(p1<%4d)\r\n"
                                   "x%4.f\r\ndwell%3.f\r\np1=p1+1\r\nEndWhile\r\n",
                                   0.35 * step_time, 0.17 * step_time, count,
                                   static_cast<double>(step), 0.3 * step_time));
        seconds += std::max(count, 0) * std::max(0.0, static_cast<double>(step_time)) / 1000.0;
    }
    if (step_time == 0.0f && step == 0.0f) {
        scanner.step_size = count != 0 ? stroke / static_cast<float>(count) : 0.0f;
        written = written &&
                  WriteText(program.get(),
                            Format("i130=40000\r\ni131=1800\r\ni132=1800\r\ni133=40000\r\ni134=0\r\n"
                                   "i135=0\r\nabs\r\nta100\r\nts50\r\nf%2.f\r\nx%5.f\r\n",
                                   static_cast<double>(feedrate), static_cast<double>(stroke)));
        if (feedrate > 0.0f) seconds += std::fabs(static_cast<double>(stroke / feedrate));
    }
    written = written && WriteText(program.get(), "\r\n") && WriteText(program.get(), *tail);
    written = std::fclose(program.release()) == 0 && written;
    if (!written) {
        // A cut-short program must not reach the controller either.
        std::remove(os::HostPath(path).c_str());
        ShowStatus(Format("\nCannot write %s: scan program not generated\n", kProgramFile));
        g_programNotReady = Format("%s could not be written", kProgramFile);
        return 0;
    }
    g_programSeconds = seconds;
    ShowStatus(CurrentScannerEdition().scriptGenerated);
    OpenScript(path);
    return 1;
}

void OpenScript(const std::string& path) {
    if (!OpenFile(path, "r")) return;
    if (!ScannerConnected()) {
        ShowStatus(kScannerNotConnected);
        return;
    }
    const std::string host = os::HostPath(path);
    ui::DelayWithEvents(1.0);
    int downloaded = 0;
    WithController([&] {
        downloaded = scanner.DeviceDownload(scanner.dwDevice, nullptr, nullptr, nullptr,
                                            host.c_str(), 1, 1, 1, 1);
    });
    ui::DelayWithEvents(1.0);
    if (downloaded != 0) {
        g_programNotReady.clear();
        ShowStatus("\nDevice Download Success\n");
        ShowStatus("\nOpen Script() called complete!!\n");
    } else {
        g_programNotReady = "the controller did not accept the scan program " + path;
    }
}

int ExecuteProgram(int cameraHandle, int) {
    if (!ScannerConnected()) {
        ShowStatus(kScannerNotConnected);
        return 0;
    }
    if (!g_programNotReady.empty()) {
        ShowStatus("\nScan refused: " + g_programNotReady +
                   ", so the controller holds an older program; confirm the settings again.\n");
        return 0;
    }
    int gathering = 0;
    WithController([&] { gathering = scanner.DeviceSetQuickGather(scanner.dwDevice, 0x10101, 1); });
    if (gathering == 0) {
        ui::MessagePopup("Error", "Set gathering failed.");
        return 0;
    }
    // Where the stage stands before the program moves it: the steps are
    // counted from here.
    QueryPosition();
    const double startUnits = scanner.position / kCountsPerUnit;
    for (const char* command : {"I19=5", "I20=7", "CLOSE", "END GAT", "DEL GAT", "DEF GAT",
                                "GAT &1 b1 r", "m180->X:$818,0", "m145->Y:$814,10"}) {
        std::string ignored;
        PmacCommand(command, &ignored);
    }
    ShowStatus(CurrentScannerEdition().scanStarted);
    state.Scanning = 1;

    const ScanPriority priority;
    const int mode = state.scan_mode;
    FrameRequests requests(state.g_nFrameNumber1);
    bool answering = true;
    bool cutShort = false;
    // Never shorter than the floor of every scan wait: a loaded host (or a
    // fast time scale) must not cut a healthy scan short.
    const double limit = TimeLimitMs(ScanTimeLimitSeconds()) / 1000.0;
    const double started = InstrumentSeconds();
    for (;;) {
        std::string running;
        if (!PmacPoll("m180", &running)) {
            LogPollReply("m180", running, false);
            answering = false;
            break;
        }
        LogPollReply("m180", running);
        if (running[0] == '0') break;
        if (mode == 0) requests.PollSteps(false);
        if (mode == 1) requests.PollStroke(false);
        if (ScanStopRequested()) {
            ShowStatus("\nScan stopped: the stage is halted; the frames taken are kept.\n");
            cutShort = true;
            break;
        }
        if (g_pollHook) g_pollHook(requests.Signalled(), requests.Frames());
        if (InstrumentSeconds() - started > limit) {
            ShowWarning(Warning::Device,
                        Format("\nScan ended: the scan program did not end within %.0f s; the "
                               "stage is halted; the frames taken are kept.\n",
                               limit));
            cutShort = true;
            break;
        }
        ui::DelayWithEvents(scanner.g_fScanPollPauseMs / 1000.0);
    }
    if (!answering)
        ShowWarning(Warning::Device, "\nThe scanner stopped answering: the scan is cut short.\n");
    if (cutShort) {
        // Abort the motion program: the stage stops where it is.
        std::string ignored;
        PmacCommand("&1 A", &ignored);
    }

    // The program has ended: signal what was reached but not yet signalled,
    // and return only once the monitoring thread has stored the last frame,
    // so that the series is complete when the run saves it.
    bool served = WaitForFrameTaken();
    for (int before = -1; served && answering && !cutShort && requests.Signalled() != before;) {
        before = requests.Signalled();
        if (mode == 0) requests.PollSteps(true);
        if (mode == 1) requests.PollStroke(true);
        served = WaitForFrameTaken();
    }
    if (!served) ShowWarning(Warning::Frames, "\nThe last frame of the scan was not taken.\n");

    // Frames exposed off their step are taken again at it, the stage
    // standing there, before the run saves the series.
    QueryPosition();
    const ScanGeometry scan{mode, requests.Frames(), startUnits, scanner.step_size,
                            scanner.position / kCountsPerUnit};
    const RepairResult repair =
        RepairOffStepFrames(scan, cameraHandle, state.pelu_take_mode,
                            served && answering && !cutShort, ScanStopRequested);
    scanner.g_nOffStepFrames = repair.offStep;
    scanner.g_nRetakenFrames = repair.retaken;
    // Frames still off their step after the repair are the ones the data
    // holds wrong: those stand out and count; a late frame taken again at
    // its step is said, not counted. Without records to check, every late
    // frame counts.
    const int stillOffStep =
        repair.checked ? repair.offStep - repair.retaken : requests.Late();
    scanner.g_nLateFrames = requests.Late();
    scanner.g_nMissingFrames = requests.Missing();
    scanner.g_nStepsTaken = requests.Signalled();
    if (g_pollHook) g_pollHook(requests.Signalled(), requests.Frames());
    if (requests.Missing() > 0)
        ShowWarning(Warning::Frames,
                    Format("\n%d of %d frames of the scan were not taken.\n", requests.Missing(),
                           requests.Frames()),
                    requests.Missing());
    if (requests.Late() > 0) {
        const std::string late = Format("\n%d of %d frames were taken after the stage had left "
                                        "their position.\n",
                                        requests.Late(), requests.Signalled());
        if (!repair.checked) ShowWarning(Warning::Frames, late, requests.Late());
        else if (stillOffStep > 0) ShowWarning(Warning::Frames, late, 0);
        else ShowStatus(late);
    }
    if (repair.offStep > 0) {
        const std::string retaken =
            Format("\n%d of %d frames were exposed off their step; %d of them were taken "
                   "again with the stage standing at their step.\n",
                   repair.offStep, requests.Frames(), repair.retaken);
        if (stillOffStep > 0) ShowWarning(Warning::Frames, retaken, stillOffStep);
        else ShowStatus(retaken);
    }

    state.Scanning = 0;
    if (cutShort) return 0;
    ShowStatus(CurrentScannerEdition().scanFinished);
    return 1;
}

void SetScanPollHook(ScanPollHook whilePolling) { g_pollHook = whilePolling; }

void ResetScanProgram() {
    g_programNotReady.clear();
    g_programSeconds = 0.0;
}

}  // namespace pelu
