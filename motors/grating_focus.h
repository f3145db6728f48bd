// The spectrograph's motors on the Ethernet motion controller: the link and
// its start-up and parking sequences, grating moves with limit checks, manual
// steps of the other axes, the wavelength list of the panels, and the slit
// hatch. Axis 1 is the grating, axes 2-4 the focus and other motors.
//
// Everything here runs on the user-interface thread, one command at a time:
// every query is read back right after it and a fixed settle time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelu {

// Settle time after a command whose reply is read, and the poll period of
// motion waits (seconds of instrument time).
constexpr float DelayTime = 0.05f;
// A grating move whose moving bit has not cleared after this much
// instrument time is given up: the motion is stopped and the status box
// says so. The longest travel of the grating takes well under a minute.
constexpr double kGratingMoveTimeout = 60.0;

inline const char* const kIpAddressFile = "IPaddr.ini";
inline const char* const kIpBatchFile = "IPaddr.bat";

// The three entries of IPaddr.ini (controller IP, controller MAC, host IP)
// from the file's text into `tokens`; "" when they are usable, otherwise
// what is wrong with them.
std::string ReadAddressEntries(const std::string& content, std::vector<std::string>* tokens);
// The encoder reply as a position: a decimal integer within 32 bits,
// blanks and a carriage return around it allowed.
bool ParseEncoderPosition(const std::string& text, int* position);

// State of the controller link and of the grating as the host knows it.
struct MotorState {
    int16_t M_Open_status = 0;  // non-zero while the link is open
    int16_t M_Init_status = 0;  // non-zero after a successful initialisation
    int SelectMotor = 1;        // axis of the manual steps: 1 grating, 2-4 the others
    int MotorPos1E = 0;         // grating encoder position, last "!1TPE:" reading
    int MotorPos1E_Pre = 0;     // reference of relative grating moves
    // [0]: axis 1 may not move in the positive direction; [1]: nor negative.
    int GratingLimitCurrentState[2] = {0, 0};
    int First_Open = 0;  // the 6K library's OLE layer has been initialised in this run
};
inline MotorState motorState;

// Back to the values of program start (tests).
void ResetMotorState();

// ---- link --------------------------------------------------------------------------------

// Reads the controller address, its Ethernet address and the host address
// from `iniPath`, writes "arp -s <ip> <mac> <host>" into `batchPath` and
// launches it. Returns the controller address, or "" after a popup when the
// file is missing or its entries are not an IPv4 address, a MAC address and
// an IPv4 address of at most 31 characters (no batch file is written then).
std::string ArpSetF(const std::string& iniPath = kIpAddressFile,
                    const std::string& batchPath = kIpBatchFile);
// Opens and prepares the controller: drives on, wavelength list loaded, axes
// homed and zeroed, slit hatch open (as far as the edition has them).
// Returns 1 when the controller is connected and initialised (or, where the
// edition keeps an open link, when it was open already); 0 after a failure,
// which has been reported.
int MotorConnect();
// Closes the hatch, stops, parks the grating, disables the drives and
// closes the link. Sends nothing and returns 0 when the link is not open.
int MotorDisconnect();
int DriveEnable();
int DriveDisable();
int InitMotor();
// Sends a typed command, waits DelayTime and returns the controller's reply
// ("" when there is none). For the test panel's command line.
std::string SendMotorCommand(const std::string& command);

// ---- grating and manual moves --------------------------------------------------------------

constexpr int kTrackRelative = 1;
constexpr int kTrackAbsolute = 2;
constexpr int kMovePositive = 1;
constexpr int kMoveNegative = 2;

// Moves the grating: type 1 by `value` steps from MotorPos1E_Pre, type 2
// to the step position `value`. Skips a move into an active limit or of
// zero distance. Returns 1.
int Gratingtracking(int type, int value);
// One manual step of the axis in SelectMotor. Returns 1.
int MotorMove(int direction, int steps);
// Reads the status of `axis` (1 to the edition's last), refreshes the grating limit flags and
// the grating position. Returns 1.
int LimitIndicate(int axis);
// 1 while the grating moves, else 0.
int MotorMovingCheck();
// Reads the grating encoder into MotorPos1E and shows it. Returns 1.
int GratingMotorPosCheck();

// ---- wavelength list --------------------------------------------------------------------------

// Reads Wv.ini and rebuilds the wavelength lists. Returns 1.
int InitWvRing();
// Empties the wavelength lists of the settings dialog and the test panel.
void ResetPanel();
// Fills both lists from the table and selects the stored selection.
void InitPanel();
// Moves the grating to entry `index` of the table, stores the selection in
// Wv.ini (and its listing) and shows the wavelength on the main panel. An
// index outside the table moves nothing and says so. Returns 1 when moved.
int SelectWavelength(int index);

// ---- slit hatch ------------------------------------------------------------------------------------

int SlitHatchOpen();
int SlitHatchClose();

// ---- the program's edition ---------------------------------------------------------------

// What the two programs do differently with the same controller: how many
// axes they drive, their drive commands, the slit hatch, the wavelength list
// loaded when the link opens and the 6K library's one-time OLE set-up. Set
// once at start-up, before the link is opened.
struct MotorEdition {
    int axes = 4;  // axis 1 the grating, 2..axes the others
    const char* driveEnable = "DRIVE1111:";
    const char* driveDisable = "DRIVE0000:";
    bool slitHatch = true;                   // opened at connect, closed at disconnect
    int (*loadWavelengths)() = InitWvRing;   // at connect; nullptr: none
    // The 6K library's OLE layer is initialised before the first open of
    // the program run, and an open link is kept (MotorConnect returns 0).
    bool initialiseOleOnce = false;
};

// Chooses the program's edition (the default one until called).
void SetMotorEdition(const MotorEdition& edition);
const MotorEdition& CurrentMotorEdition();

}  // namespace pelu
