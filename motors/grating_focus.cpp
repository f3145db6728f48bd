// The controller link, grating moves, manual steps and the slit hatch.
#include "motors/grating_focus.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "motors/wv_file.h"
#include "platform/motion6k/binding.h"
#include "platform/motion6k/motion6k.h"
#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/observing_log.h"
#include "state/status.h"

namespace pelu {
namespace {

// Longest IPaddr.ini entry the address buffers hold.
constexpr size_t kMaxAddressLength = 31;
// Status characters of an axis status reply: positive and negative limit.
constexpr size_t kPositiveLimitChar = 17;
constexpr size_t kNegativeLimitChar = 18;
// The encoder reply is read up to its line feed, at most this many characters.
constexpr size_t kMaxEncoderChars = 11;
// Where the grating parks when the link is closed: steps from its last reading.
constexpr int kParkDistance = -50000;

MotorEdition g_edition;  // set before the link is opened

void Send(const std::string& command) {
    Write_6KE(command.c_str());
    LogControllerWrite("motor", command);
}

// A query and its reply, read after the settle time.
std::string Query(const std::string& command) {
    Write_6KE(command.c_str());
    os::Delay(DelayTime);
    char reply[kMotion6kReplySize] = {};
    Read_HS(reply, sizeof reply);
    reply[sizeof reply - 1] = '\0';
    LogControllerCommand("motor", command, reply, reply[0] != '\0');
    return reply;
}

bool IsDecimalOctet(const std::string& text) {
    if (text.empty() || text.size() > 3) return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return std::stoi(text) <= 255;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.push_back("");
    return parts;
}

bool IsIpv4Address(const std::string& text) {
    const auto parts = Split(text, '.');
    return parts.size() == 4 && std::all_of(parts.begin(), parts.end(), IsDecimalOctet);
}

// Six pairs of hex digits separated by '-' (as Windows writes them) or ':'.
bool IsMacAddress(const std::string& text) {
    if (text.size() != 17) return false;
    const char separator = text[2];
    if (separator != '-' && separator != ':') return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i % 3 == 2) {
            if (c != separator) return false;
        } else if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

// What is wrong with the three IPaddr.ini entries, or "".
std::string AddressEntriesFault(const std::vector<std::string>& tokens) {
    static const char* const kNames[3] = {"controller IP address", "controller MAC address",
                                          "host IP address"};
    if (tokens.size() < 3)
        return "it holds " + std::to_string(tokens.size()) + " of its three entries";
    for (size_t i = 0; i < 3; ++i) {
        if (tokens[i].size() > kMaxAddressLength)
            return std::string("the ") + kNames[i] + " is longer than 31 characters";
        const bool valid = i == 1 ? IsMacAddress(tokens[i]) : IsIpv4Address(tokens[i]);
        if (!valid) return std::string("the ") + kNames[i] + " \"" + tokens[i] + "\" is not valid";
    }
    return "";
}

// The main panel's grating read-outs: the encoder position, and the line of
// Wv.ini that sits at that position (or the nearest one).
void ShowGratingOnMainPanel(int position) {
    SetText(state.mainPanel, MAIN_GRATING_POS, Format("%d", position));
    int nearest = -1;
    for (int i = 0; i < wvTable.nWV_FileIO && i < kMaxWvRecords; ++i)
        if (nearest < 0 || std::abs(int64_t(wvTable.Data[i].step) - position) <
                               std::abs(int64_t(wvTable.Data[nearest].step) - position))
            nearest = i;
    if (nearest < 0) {
        SetText(state.mainPanel, MAIN_GRATING_WV, "");
        return;
    }
    const double wavelength = wvTable.Data[nearest].wavelength;
    SetText(state.mainPanel, MAIN_GRATING_WV,
            Format(wvTable.Data[nearest].step == position ? "%.2f Å" : "near %.2f Å", wavelength));
}
}  // namespace

bool ParseEncoderPosition(const std::string& text, int* position) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    for (const char* p = end; *p; ++p)
        if (*p != ' ' && *p != '\r' && *p != '\t') return false;
    *position = static_cast<int>(v);
    return true;
}

std::string ReadAddressEntries(const std::string& content, std::vector<std::string>* tokens) {
    std::istringstream words(content);
    tokens->clear();
    for (std::string word; tokens->size() < 3 && words >> word;) tokens->push_back(word);
    return AddressEntriesFault(*tokens);
}

namespace {

double InstrumentSeconds() {
    int64_t frequency = 1, count = 0;
    os::QueryPerformanceFrequency(&frequency);
    os::QueryPerformanceCounter(&count);
    return frequency > 0 ? static_cast<double>(count) / static_cast<double>(frequency) : 0.0;
}

// Polls the moving bit until the grating stands; gives up after
// kGratingMoveTimeout and stops the motion instead of waiting forever.
void WaitForGratingMove() {
    const double start = InstrumentSeconds();
    while (MotorMovingCheck()) {
        if (InstrumentSeconds() - start >= kGratingMoveTimeout) {
            Send("!S:");
            ShowStatus(Format("\nGrating move did not end within %.0f s: motion stopped.\n",
                              kGratingMoveTimeout));
            return;
        }
        ui::DelayWithEvents(DelayTime);
    }
}

}  // namespace

void ResetMotorState() {
    motorState = MotorState{};
    g_edition = MotorEdition{};
}

void SetMotorEdition(const MotorEdition& edition) {
    g_edition = edition;
    g_edition.axes = std::clamp(edition.axes, 1, 4);
}

const MotorEdition& CurrentMotorEdition() { return g_edition; }

// ---- link ----------------------------------------------------------------------------------------

std::string ArpSetF(const std::string& iniPath, const std::string& batchPath) {
    std::ifstream ini(os::HostPath(iniPath));
    if (!ini) {
        ui::MessagePopup("Error",
                         "IPaddr.ini file is not exist.\n Please Set the IP address and Mac address.");
        return "";
    }
    // Three whitespace-free entries; more text than any sane file holds is cut off.
    std::string content(4096, '\0');
    ini.read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<size_t>(ini.gcount()));
    std::vector<std::string> tokens;
    if (std::string fault = ReadAddressEntries(content, &tokens); !fault.empty()) {
        ui::MessagePopup("Error", "IPaddr.ini is not usable: " + fault +
                                      ".\nIt holds the controller's IP address, its MAC address "
                                      "and the host's IP address, one per line.");
        return "";
    }
    const std::string line = "arp -s " + tokens[0] + " " + tokens[1] + " " + tokens[2];
    {
        std::ofstream batch(os::HostPath(batchPath), std::ios::binary | std::ios::trunc);
        batch << line;
        if (!batch) ShowStatus("\nCannot write " + batchPath + "\n");
    }
    os::LaunchBatchFile(batchPath);
    os::Delay(DelayTime);
    return tokens[0];
}

int MotorConnect() {
    if (g_edition.initialiseOleOnce && motorState.M_Open_status != 0) return 1;
    if (motorState.M_Open_status == 0) {
        // The library is chosen again at every switch-on: a site may have
        // edited devices.ini in between.
        std::string refusal;
        if (!motion6k::BindLibrary(&refusal)) {
            ShowStatus("\n" + refusal + "\n");
            ui::MessagePopup("Motor", refusal);
            return 0;
        }
        ShowStatus("\n" + motion6k::LibraryLine() + "\n");
    }
    const std::string address = ArpSetF();
    if (g_edition.initialiseOleOnce && motorState.First_Open == 0) {
        OLE_Initialize_6KE();
        motorState.First_Open = 1;
    }
    if (address.empty()) {
        ShowSwitchOnFailure("motor controller",
                            "no controller address: IPaddr.ini is missing or not usable",
                            "Set the controller's IP and MAC address and the host's IP address "
                            "in IPaddr.ini.",
                            false);  // the reader of IPaddr.ini has shown its box
        return 0;
    }
    motorState.M_Open_status = Open_6KE(address.c_str());
    if (motorState.M_Open_status == 0) {
        ShowSwitchOnFailure("motor controller", "opening the link to " + address + " failed",
                            "Check the controller's address in IPaddr.ini, its power and its "
                            "network cable.");
        return 0;
    }
    ShowStatus("\n------------Connected------------\n");
    motorState.M_Init_status = Initialize_6KE();
    if (motorState.M_Init_status == 0) {
        // A link without an initialised controller moves nothing: close it.
        Close_6KE();
        motorState.M_Open_status = 0;
        ShowSwitchOnFailure("motor controller",
                            "the controller at " + address + " did not initialise",
                            "Check its power and its network cable, then switch the motor on "
                            "again.");
        return 0;
    }
    ShowStatus("Initialized  \n");
    DriveEnable();
    if (g_edition.loadWavelengths != nullptr) g_edition.loadWavelengths();
    InitMotor();
    if (g_edition.slitHatch) SlitHatchOpen();
    return 1;
}

int MotorDisconnect() {
    if (motorState.M_Open_status == 0) return 0;
    if (g_edition.slitHatch) SlitHatchClose();
    Send("!S:");
    Gratingtracking(kTrackRelative, kParkDistance);
    DriveDisable();
    if (Close_6KE() != 0) {
        ShowStatus("-----------Disconnected-----------\n");
        motorState.M_Open_status = 0;
        motorState.M_Init_status = 0;
        return 1;
    }
    const std::string text =
        "The motor controller did not confirm the close of its link. Switch the controller "
        "off and on before the next use.";
    ShowWarning(Warning::Device, "\n" + text + "\n");
    ui::MessagePopup("Error", text);
    return 0;
}

int DriveEnable() {
    Send(g_edition.driveEnable);
    os::Delay(DelayTime);
    return 1;
}

int DriveDisable() {
    Send(g_edition.driveDisable);
    os::Delay(DelayTime);
    return 1;
}

int InitMotor() {
    Send("SETUP:");
    ui::DelayWithEvents(20 * DelayTime);
    Send("HOMING:");
    ui::DelayWithEvents(5.0);
    Send("PSET0,0,0,0:");
    Send("PESET0,0,0,0:");
    motorState.MotorPos1E = 0;
    motorState.MotorPos1E_Pre = 0;
    motorState.SelectMotor = 1;
    return 1;
}

std::string SendMotorCommand(const std::string& command) { return Query(command); }

// ---- grating and manual moves -----------------------------------------------------------------

int Gratingtracking(int type, int value) {
    if (type != kTrackRelative && type != kTrackAbsolute) return 1;
    const long long target =
        type == kTrackRelative ? static_cast<long long>(motorState.MotorPos1E_Pre) + value : value;
    LimitIndicate(1);
    const long long distance = target - motorState.MotorPos1E;
    const bool blocked = (motorState.GratingLimitCurrentState[0] && distance > 0) ||
                         (motorState.GratingLimitCurrentState[1] && distance < 0);
    if (distance != 0 && !blocked) {
        if (distance < INT_MIN || distance > INT_MAX) {
            ShowStatus(Format("\nGrating move of %lld steps is out of range: not sent.\n", distance));
        } else {
            Send(Format("1D%d:", static_cast<int>(distance)));
            Send("1GO:");
            WaitForGratingMove();
            LimitIndicate(1);
        }
    }
    motorState.MotorPos1E_Pre = motorState.MotorPos1E;
    return 1;
}

int MotorMove(int direction, int steps) {
    if (direction != kMovePositive && direction != kMoveNegative) return 1;
    if (steps < 0) {
        ShowStatus(Format("\nMotor step %d refused: the step is a positive count.\n", steps));
        return 1;
    }
    Send("!S:");
    const int axis = motorState.SelectMotor;
    if (axis == 1) {
        Gratingtracking(kTrackRelative, direction == kMovePositive ? steps : -steps);
    } else if (axis >= 2 && axis <= g_edition.axes) {
        Send(direction == kMovePositive ? Format("%dD%d :", axis, steps)
                                        : Format("%dD-%d :", axis, steps));
        Send(Format("%dGO:", axis));
    }
    LimitIndicate(axis);
    return 1;
}

int LimitIndicate(int axis) {
    if (axis < 1 || axis > g_edition.axes) return 1;
    const std::string reply = Query(Format("!%dTAS:", axis));
    if (axis != 1) {
        motorState.GratingLimitCurrentState[0] = 0;
        motorState.GratingLimitCurrentState[1] = 0;
    } else if (reply.size() > kNegativeLimitChar) {
        // Only '1' is a set flag; any other character clears it.
        motorState.GratingLimitCurrentState[0] = reply[kPositiveLimitChar] == '1';
        motorState.GratingLimitCurrentState[1] = reply[kNegativeLimitChar] == '1';
    } else {
        ShowStatus(reply.empty() ? "\nGrating status: no reply; limit flags kept.\n"
                                 : "\nGrating status reply too short; limit flags kept.\n");
    }
    ui::SetCtrlVal(state.testpanel, TEST_LIMIT_POS, motorState.GratingLimitCurrentState[0]);
    ui::SetCtrlVal(state.testpanel, TEST_LIMIT_NEG, motorState.GratingLimitCurrentState[1]);
    GratingMotorPosCheck();
    return 1;
}

int MotorMovingCheck() {
    const std::string reply = Query("!1TAS.1:");
    return !reply.empty() && reply[0] == '0' ? 0 : 1;
}

int GratingMotorPosCheck() {
    const std::string reply = Query("!1TPE:");
    const std::string text = reply.substr(0, std::min(reply.find('\n'), kMaxEncoderChars));
    SetText(state.testpanel, TEST_GRATING_POS, text);
    int position = 0;
    if (ParseEncoderPosition(text, &position)) {
        motorState.MotorPos1E = position;
        ShowGratingOnMainPanel(position);
    } else
        ShowStatus("\nGrating encoder reply \"" + text + "\" is not a position; "
                   "the last position is kept.\n");
    return 1;
}

// ---- slit hatch ---------------------------------------------------------------------------------

int SlitHatchOpen() {
    Send("OUT0010:");
    os::Delay(DelayTime);
    // The hatch reports no position: the lamp shows what was commanded.
    ui::SetCtrlVal(state.mainPanel, MAIN_HATCH_LED, 1);
    return 1;
}

int SlitHatchClose() {
    Send("OUT0001:");
    os::Delay(DelayTime);
    ui::SetCtrlVal(state.mainPanel, MAIN_HATCH_LED, 0);
    return 1;
}

}  // namespace pelu
