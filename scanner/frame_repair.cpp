#include "scanner/frame_repair.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "scanner/scanner.h"
#include "state/camera_slot.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

// A frame of a step scan belongs within this share of a step of its step
// position: the stage dwells there, and leaves it slowly as the next move
// ramps up.
constexpr double kStepTolerance = 0.1;
constexpr int kRetakeAttempts = 3;
// Instrument seconds the stage may take to reach a place, and a frame to be
// taken once requested.
constexpr double kPlaceTimeoutSeconds = 30.0;
constexpr double kFrameTimeoutSeconds = 60.0;
// Pause between two reads of the stage while it moves, instrument ms.
constexpr double kMovePollMs = 1.0;

// A distance on the stage as a tolerance: never finer than half a
// controller count, what a position reading resolves.
double Tolerance(double units) {
    return std::max(std::fabs(units), 0.5 / kCountsPerUnit);
}

using Clock = std::chrono::steady_clock;

// The instant a time limit of `instrumentSeconds` ends, on the host clock.
Clock::time_point After(double instrumentSeconds) {
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(
               TimeLimitMs(instrumentSeconds) * os::TimeScale()));
}

// The frame logs of the cameras the scan took frames with.
std::vector<FrameLog*> LogsOfScan(int handle, int takeMode) {
    std::vector<FrameLog*> logs;
    if (takeMode == 1) {
        logs.push_back(CameraSlotNumbered(1).frames);
        if (CameraSlotNumbered(2).handle != 0) logs.push_back(CameraSlotNumbered(2).frames);
    } else if (const CameraSlot camera = CameraSlotOfHandle(handle); camera.known()) {
        logs.push_back(camera.frames);
    }
    return logs;
}

// True when a camera recorded frame `step` and did not take it in place.
bool OffPlace(const std::vector<FrameLog*>& logs, const ScanGeometry& scan, int step) {
    for (FrameLog* log : logs) {
        FrameRecord record;
        if (log->Record(step - 1, &record) && !TakenInPlace(record, PlaceOfFrame(scan, step)))
            return true;
    }
    return false;
}

// Jogs the stage to `units` and waits until it stands there: in position
// and within `tolerance`. False when the controller does not take the move
// or the stage does not get there in time.
bool MoveStageTo(double units, double tolerance) {
    // A jog has no reply: whether the stage moves shows in its position.
    std::string ignored;
    PmacCommand(Format("#1J=%.1f", units * kCountsPerUnit), &ignored);
    const auto deadline = After(kPlaceTimeoutSeconds);
    for (;;) {
        std::string inPosition;
        int standing = 0;
        if (QueryPosition() && PmacPoll("m140", &inPosition) &&
            ParseReplyInteger(inPosition, &standing) && standing == 1 &&
            std::fabs(scanner.position / kCountsPerUnit - units) <= tolerance)
            return true;
        if (Clock::now() > deadline) return false;
        ui::DelayWithEvents(kMovePollMs / 1000.0);  // the window answers meanwhile
    }
}

// Takes frame `step` again where the stage stands, through the monitoring
// loop. False when it was not served in time.
bool Retake(int step) {
    state.Scanpos_CCDframe = step;
    state.Scanpos_late = 0;
    state.Scanpos_retake = 1;
    state.Scanpos_requested = static_cast<float>(scanner.position / kCountsPerUnit);
    state.take = 1;
    // The window answers while the frame is taken.
    ui::WaitWithEvents([] { return state.take == 0 || state.PmacAccessible == 0; },
                       TimeLimitMs(kFrameTimeoutSeconds) / 1000.0, 0.0, 1.0);
    const bool served = state.take == 0;
    state.Scanpos_retake = 0;
    if (!served) state.take = 0;  // no request of the scan outlives it
    return served;
}

}  // namespace

FramePlace PlaceOfFrame(const ScanGeometry& scan, int step) {
    if (scan.mode == 1) return {step * scan.stepUnits, Tolerance(0.5 * scan.stepUnits)};
    return {scan.startUnits + step * scan.stepUnits, Tolerance(kStepTolerance * scan.stepUnits)};
}

bool TakenInPlace(const FrameRecord& record, const FramePlace& place) {
    // Written so that a position never read (NaN) is not within anything.
    const auto within = [&](float units) {
        return std::fabs(double(units) - place.centre) <= place.tolerance;
    };
    return record.read && !record.late && within(record.positionRequested) &&
           within(record.positionEnded);
}

RepairResult RepairOffStepFrames(const ScanGeometry& scan, int handle, int takeMode, bool retake,
                                 const std::function<bool()>& stopRequested) {
    RepairResult result;
    const std::vector<FrameLog*> logs = LogsOfScan(handle, takeMode);
    if (logs.empty()) return result;
    result.checked = true;
    std::vector<int> offSteps;
    for (int step = 1; step <= scan.frames; ++step)
        if (OffPlace(logs, scan, step)) offSteps.push_back(step);
    result.offStep = static_cast<int>(offSteps.size());

    bool moved = false;
    for (int step : retake ? offSteps : std::vector<int>{}) {
        if (stopRequested && stopRequested()) break;
        const FramePlace place = PlaceOfFrame(scan, step);
        bool inPlace = false, reachable = true;
        for (int attempt = 0; attempt < kRetakeAttempts && !inPlace && reachable; ++attempt) {
            moved = true;
            reachable = MoveStageTo(place.centre, place.tolerance) && Retake(step);
            inPlace = reachable && !OffPlace(logs, scan, step);
        }
        if (inPlace) ++result.retaken;
        if (!reachable) {
            ShowWarning(Warning::Frames,
                        Format("\nThe stage did not reach step %d to take its frame again: the "
                               "frames still off their step stay flagged late.\n",
                               step),
                        0);
            break;
        }
    }
    if (moved) {
        // Back where the program left the stage, where the next scan expects it.
        MoveStageTo(scan.endUnits, Tolerance(kStepTolerance * scan.stepUnits));
    }
    for (int step : offSteps)
        for (FrameLog* log : logs)
            if (OffPlace({log}, scan, step)) log->SetLate(step - 1);
    return result;
}

}  // namespace pelu
