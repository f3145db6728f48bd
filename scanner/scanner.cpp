#include "scanner/scanner.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "scanner/controller_access.h"
#include "scanner/runtime.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/observing_log.h"
#include "state/status.h"

namespace pelu {
namespace {

using detail::WithController;

// Replies come back in a buffer of this many characters.
constexpr uint32_t kReplySize = 255;

// Amp-on sequence states.
constexpr int kAmpCheck = 0, kSeekLimit = 10, kDefineHome = 20, kAwaitHome = 21, kHomed = 30;

// The three test-panel controls the amp timer hands back to the observer.
constexpr int kJogControls[] = {TEST_JOG_DEC, TEST_JOG_INC, TEST_ZERO};

// The lamps of PELU_dbg's main panel and the variables they show.
constexpr MonitoredVariable kDefaultMonitored[] = {{"m140", MAIN_INPOS_LED},
                                                   {"m137", MAIN_M137_LED},
                                                   {"m131", MAIN_M131_LED},
                                                   {"m132", MAIN_NEGLIM_LED}};

const ScannerEdition kDefaultEdition = [] {
    ScannerEdition edition;
    edition.monitored = kDefaultMonitored;
    edition.monitoredCount = static_cast<int>(std::size(kDefaultMonitored));
    return edition;
}();

ScannerEdition g_edition = kDefaultEdition;  // set before any thread uses the scanner

// The most lamps an edition may name.
constexpr int kMaxMonitored = 8;

// What the monitoring loop showed last, so that it touches the panel only
// when something changed (it polls many times a millisecond).
struct Shown {
    std::string position;
    int bits[kMaxMonitored] = {-1, -1, -1, -1, -1, -1, -1, -1};
};
Shown g_shown;  // monitoring thread only

void StopAmpTimer() {
    ui::SetCtrlAttribute(state.mainPanel, MAIN_AMP_TIMER, ui::ATTR_ENABLED, 0);
}

// A command whose reply is only looked at by its first character.
char FirstOfReply(const std::string& command) {
    std::string reply;
    PmacCommand(command, &reply);
    return reply.empty() ? '\0' : reply[0];
}

void Send(const std::string& command) {
    std::string ignored;
    PmacCommand(command, &ignored);
}

}  // namespace

bool ParseReplyNumber(const std::string& reply, double* value) {
    const char* begin = reply.c_str();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(begin, &end);
    if (end == begin || errno == ERANGE || !std::isfinite(v) || std::fabs(v) > kMaxReplyMagnitude)
        return false;
    *value = v;
    return true;
}

bool ParseReplyInteger(const std::string& reply, int* value) {
    const char* begin = reply.c_str();
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    *value = static_cast<int>(v);
    return true;
}

double TimeLimitMs(double instrumentSeconds) {
    constexpr double kHostFloorSeconds = 10.0;
    const double scale = os::TimeScale();
    return 1000.0 * std::max(instrumentSeconds, scale > 0 ? kHostFloorSeconds / scale : 0.0);
}

const ScannerEdition& DefaultScannerEdition() { return kDefaultEdition; }

void SetScannerEdition(const ScannerEdition& edition) {
    g_edition = edition;
    g_edition.monitoredCount = std::clamp(edition.monitoredCount, 0, kMaxMonitored);
    if (g_edition.monitored == nullptr) g_edition.monitoredCount = 0;
    g_shown = Shown{};
}

const ScannerEdition& CurrentScannerEdition() { return g_edition; }

bool ScannerConnected() { return detail::g_linkUsable.load(); }

namespace {

// One command line through the library; false when nobody answered.
bool Ask(const char* command, std::string* reply) {
    reply->clear();
    char buffer[kReplySize + 1] = {};
    int answered = 0;
    const bool usable = WithController([&] {
        answered = scanner.DeviceGetResponse(scanner.dwDevice, buffer, kReplySize, command);
    });
    if (!usable || answered <= 0) return false;
    buffer[kReplySize] = '\0';
    *reply = buffer;
    return true;
}

// The reply logged last for each polled command. A handful of commands are
// polled; their entries are made once and reused.
struct PolledReplies {
    std::mutex mutex;
    struct Entry {
        std::string command, reply;
        bool answered = false;
    };
    std::vector<Entry> entries;
};
PolledReplies& Polled() {
    static PolledReplies polled;
    return polled;
}

}  // namespace

bool PmacCommand(const std::string& command, std::string* reply) {
    const bool answered = Ask(command.c_str(), reply);
    LogControllerCommand("scanner", command, *reply, answered);
    return answered;
}

bool PmacPoll(const char* command, std::string* reply) {
    return Ask(command, reply);
}

void LogPollReply(const char* command, const std::string& reply, bool answered) {
    PolledReplies& polled = Polled();
    {
        std::lock_guard lock(polled.mutex);
        auto it = std::find_if(polled.entries.begin(), polled.entries.end(),
                               [&](const PolledReplies::Entry& e) { return e.command == command; });
        if (it == polled.entries.end()) {
            polled.entries.push_back({command, reply, answered});
        } else {
            if (it->reply == reply && it->answered == answered) return;
            it->reply = reply;
            it->answered = answered;
        }
    }
    LogControllerCommand("scanner", command, reply, answered);
}

namespace {

// Closes what a switch-on opened before it found the controller unusable.
void CloseLinkAfterFailedOpen() {
    detail::g_linkUsable = false;
    while (detail::g_callsInFlight.load() != 0) os::Sleep(0.1);
    if (scanner.bDriverOpen != 0 && scanner.DeviceClose != nullptr)
        scanner.DeviceClose(scanner.dwDevice);
    scanner.bDriverOpen = 0;
    FreeLink();
}

}  // namespace

int ScanOpen() {
    if (!RunLink()) {
        ShowStatus(Format("Device is NOT opened! %d \n ", 0));
        ShowSwitchOnFailure("scanner controller",
                            "its library " + PmacLibraryPath() + " could not be loaded",
                            "Check that the file exists and is the controller library.",
                            false);  // the loader has shown its box
        return 0;
    }
    scanner.bDriverOpen = scanner.DeviceOpen(scanner.dwDevice);
    if (scanner.bDriverOpen == 0) {
        ShowStatus(Format("Device is NOT opened! %d \n ", scanner.bDriverOpen.load()));
        FreeLink();
        ShowSwitchOnFailure("scanner controller",
                            Format("opening device #%u failed", scanner.dwDevice),
                            "Check that the controller is powered and its cable is connected.");
        return 0;
    }
    ShowStatus(Format("Device is opened in device #%d", scanner.bDriverOpen.load()));
    char version[31] = {}, date[31] = {};
    scanner.DeviceGetRomVersion(scanner.dwDevice, version, 30);
    scanner.DeviceGetRomDate(scanner.dwDevice, date, 30);
    version[30] = date[30] = '\0';
    ShowStatus(Format("\nV%s %s", version, date));
    detail::g_linkUsable = true;

    getresponse("i900=3");
    getresponse("i125=$80C000");
    for (const char* setting :
         {"i117=0.5", "i130=40000", "i131=1800", "i132=1800", "i133=40000", "i135=0"})
        Send(setting);
    std::string reply;
    if (!PmacCommand("i900", &reply) || reply.empty()) {
        // Opened, but nothing answers: nothing sent to it can be trusted.
        CloseLinkAfterFailedOpen();
        ShowSwitchOnFailure("scanner controller",
                            "the controller opened but does not answer (no reply to i900)",
                            "Check that the controller is powered and its cable is connected, "
                            "then switch the scanner on again.");
        return 0;
    }
    ShowStatus("\ni900=" + reply);
    PmacCommand("i125", &reply);
    ShowStatus("i125=" + reply);

    state.PmacAccessible = 1;
    state.Scanner_status = kDeviceOn;
    return 1;
}

void CloseDevice() {
    state.PmacAccessible = 0;
    // Nobody may enter the library from here on; wait for those inside.
    detail::g_linkUsable = false;
    while (detail::g_callsInFlight.load() != 0) os::Sleep(0.1);
    if (scanner.bDriverOpen != 0 && scanner.DeviceClose != nullptr) {
        scanner.bDriverOpen = scanner.DeviceClose(scanner.dwDevice) == 0 ? 1 : 0;
        ShowStatus(Format("Device is Closed! %d \n ", scanner.bDriverOpen.load()));
        if (scanner.bDriverOpen != 0)
            ShowWarning(Warning::Device,
                        "\nThe scanner controller did not confirm the close; the program no "
                        "longer uses it. Switch the controller off and on before the next use.\n");
    }
    if (scanner.h_PmacLib != nullptr) FreeLink();
    state.Scanner_status = kDeviceOff;
}

void ampon_timer() {
    if (!ScannerConnected()) {
        StopAmpTimer();
        return;
    }
    switch (scanner.g_nAmpOnSeq) {
        case kAmpCheck: {
            Send("#1o0");
            Send("#1j/");
            ui::Delay(0.1);
            Send("m139->Y:$814,14");
            Send("m138->X:$3D,18");
            const char m139 = FirstOfReply("m139");
            const char m138 = FirstOfReply("m138");
            if (m139 == '\0' || m138 == '\0') {  // no reply is no answer, not a powered amp
                StopAmpTimer();
                const std::string text =
                    "The scanner controller did not answer the amplifier check (m139, m138): "
                    "the stage is not homed. Check the controller's power and cable, then "
                    "switch the scanner off and on again.";
                ShowWarning(Warning::Device, "\n" + text + "\n");
                ui::MessagePopup("Error", text);
                break;
            }
            if (m139 == '0' || m138 == '1') {  // the amplifier has no power
                StopAmpTimer();
                ShowWarning(Warning::Device,
                            "\nAmp is not powered: the stage cannot be homed and no scan can run. "
                            "Check the amplifier's power switch and its cable to the stage.\n");
                ui::MessagePopup("Error", "Amp is not powered.");
                break;
            }
            ShowStatus("Amp is turned ON\n");
            Send("m132->X:$3D,22");
            Send("j-");
            scanner.g_nAmpOnSeq = kSeekLimit;
            break;
        }
        case kSeekLimit:
            if (FirstOfReply("m132") == '0') break;
            ui::Delay(1.0);
            Send("hm");
            scanner.g_nAmpOnSeq = kDefineHome;
            break;
        case kDefineHome:
            Send("m145->Y:$814,10");
            scanner.g_nAmpOnSeq = kAwaitHome;
            break;
        case kAwaitHome:
            if (FirstOfReply("m145") == '0') break;
            SetDimmed(state.mainPanel, MAIN_RUN, false);
            scanner.g_nAmpOnSeq = kHomed;
            break;
        case kHomed:
            StopAmpTimer();
            break;
        default:
            break;
    }
}

int Ampon_timer(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_TIMER_TICK) return 0;
    ampon_timer();
    if (scanner.g_nAmpOnSeq == kHomed) StopAmpTimer();
    for (int control : kJogControls) SetDimmed(state.testpanel, control, false);
    return 0;
}

void getresponse(const std::string& command) {
    if (!ScannerConnected()) {
        ShowStatus(kScannerNotConnected);
        return;
    }
    std::string reply;
    PmacCommand(command, &reply);
    ShowStatus(reply);
}

namespace {
// `counts` as the stage position the program shows.
void StorePosition(double counts) {
    scanner.position = counts;
    state.scanpos = static_cast<float>(counts / kCountsPerUnit);
}
}  // namespace

bool QueryPosition(std::string* reply) {
    std::string text;
    std::string& answer = reply != nullptr ? *reply : text;
    // A controller that does not answer leaves the last reading standing.
    double counts = 0.0;
    if (!PmacPoll("#1P", &answer) || !ParseReplyNumber(answer, &counts)) return false;
    StorePosition(counts);
    return true;
}

bool ReadPosition() {
    std::string reply;
    const bool answered = PmacPoll("#1P", &reply);
    LogPollReply("#1P", reply, answered);
    double counts = 0.0;
    if (!answered || !ParseReplyNumber(reply, &counts)) return false;
    StorePosition(counts);
    std::string text = Format("%.1f", counts / kCountsPerUnit);
    if (text != g_shown.position) {
        SetText(state.mainPanel, MAIN_POSITION, text);
        g_shown.position = std::move(text);
    }
    return true;
}

void Monitor() {
    for (int i = 0; i < g_edition.monitoredCount; ++i) {
        const MonitoredVariable& shown = g_edition.monitored[i];
        std::string reply;
        const bool answered = PmacPoll(shown.variable, &reply);
        LogPollReply(shown.variable, reply, answered);
        if (!answered) return;
        int value = 0;  // a reply that is no number reads as 0, the bit clear
        ParseReplyInteger(reply, &value);
        if (std::strcmp(shown.variable, "m140") == 0) state.Scanner_InPosition = value;
        if (value != g_shown.bits[i]) {
            ui::SetCtrlVal(state.mainPanel, shown.lamp, value != 0 ? 1 : 0);
            g_shown.bits[i] = value;
        }
    }
}

void ResetScanner() {
    if (ScannerConnected() || scanner.h_PmacLib != nullptr) {
        detail::g_linkUsable = false;
        while (detail::g_callsInFlight.load() != 0) os::Sleep(0.1);
        if (scanner.bDriverOpen != 0 && scanner.DeviceClose != nullptr)
            scanner.DeviceClose(scanner.dwDevice);
        FreeLink();
    }
    scanner.bDriverOpen = 0;
    scanner.g_nAmpOnSeq = 0;
    scanner.position = 0.0;
    scanner.step_size = 0.0f;
    scanner.g_nJogPosition = 0;
    scanner.g_nLateFrames = 0;
    scanner.g_nMissingFrames = 0;
    scanner.g_nOffStepFrames = 0;
    scanner.g_nRetakenFrames = 0;
    scanner.g_nStepsTaken = 0;
    g_shown = Shown{};
    g_edition = kDefaultEdition;
    {
        std::lock_guard lock(Polled().mutex);
        Polled().entries.clear();
    }
    ResetScanProgram();
}

}  // namespace pelu
