#include "earlier/scanner_earlier.h"

#include <iterator>
#include <string>

#include "camera/camera.h"
#include "earlier/devices_earlier.h"
#include "platform/os/realtime.h"
#include "resources/earlier_uir.h"
#include "scanner/scanner.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu::earlier {
namespace {

// The controller variables this program watches and the lamps that show them.
constexpr MonitoredVariable kMonitored[] = {
    {"m139", MAIN_M139_LED}, {"m140", MAIN_INPOS_LED}, {"m137", MAIN_M137_LED},
    {"m143", MAIN_M143_LED}, {"m131", MAIN_M131_LED},  {"m132", MAIN_NEGLIM_LED},
    {"m138", MAIN_M138_LED}};

// Between frame requests the stage's position and status bits are read this
// often (instrument milliseconds).
constexpr double kStatusReadMs = 20.0;

// The scan program files live in the folder recorded when the camera opened
// (the program's working folder); before that, the working folder itself.
std::string ProgramFolder() { return ccd.ccd_path; }

}  // namespace

void UseEarlierScanner() {
    ScannerEdition edition;
    edition.scriptGenerated = "\nScript was generated.";
    edition.scanStarted = "\nScanning is started.";
    edition.scanFinished = "\nScanning is finished.";
    edition.stepDisplayShowsFrames = true;
    edition.monitored = kMonitored;
    edition.monitoredCount = static_cast<int>(std::size(kMonitored));
    edition.programFolder = ProgramFolder;
    SetScannerEdition(edition);
}

int opendevice() { return ScanOpen(); }

int cmdrun(int count, float step_time, float step, float feedrate, float stroke) {
    return ScanCommandWrite(count, step_time, step, feedrate, stroke);
}

int MonitoringThread() {
    // As the main program's loop: ahead of other work where the system
    // allows it, asleep until a frame is requested or the reads are due.
    const os::RealTimeSection realTime(os::kAcquisitionPriority);
    if (!realTime.granted()) ShowRealTimeRefused(realTime.refusal());
    const auto closed = [] { return state.PmacAccessible == 0; };
    while (state.PmacAccessible != 0) {
        if (state.take == 1) {
            // The frame counter of the scan numbers the frames from 1. The
            // camera is the one current now, the one the scan command
            // records in the file header.
            TakeFrame(state.Scanpos_CCDframe - 1);
            state.take = 0;
            continue;
        }
        ReadPosition();
        Monitor();
        state.take.WaitFor(1, kStatusReadMs, closed, kStatusReadMs);
    }
    return 1;
}

}  // namespace pelu::earlier
