// The Ethernet motion controller's C API as the programs call it: one link
// per process to the controller that drives the grating, the other
// spectrograph motors and the slit hatch. Commands are controller texts that
// end with ':' ("DRIVE1111:", "1D500:", "!1TPE:"); a query leaves a reply
// that Read_HS fetches.
//
// Our simulated controller implements it (simulator.cpp, configured through
// simulator.h); a vendor library with the same calls could be linked in its
// place. Every call is made from one thread at a time (the programs talk to
// the controller from the user-interface thread only); the simulator is safe
// to call from any thread all the same.
#pragma once

#include <cstdint>

extern "C" {

// Size of the reply buffer the programs read into, terminating zero included.
constexpr int kMotion6kReplySize = 1024;

// Prepares the library's communication layer for this process. The earlier
// edition calls it once before its first Open_6KE. Non-zero = ready.
int16_t OLE_Initialize_6KE(void);

// Opens the link to the controller at `address` (dotted IPv4 text). Non-zero
// = open. Opening an open link opens it again.
int16_t Open_6KE(const char* address);

// Initialises the open link. Non-zero = initialised.
int16_t Initialize_6KE(void);

// Sends one command text (one or more ':'-terminated commands). Non-zero =
// handed to the controller; zero when the link is closed.
int16_t Write_6KE(const char* command);

// Copies the controller's pending reply into `reply` (at most replySize - 1
// characters and a terminating zero) and clears it. With no reply pending,
// `reply` becomes "" and the result is zero; otherwise it is non-zero.
int16_t Read_HS(char* reply, int replySize);

// Closes the link. Non-zero = closed.
int16_t Close_6KE(void);

}  // extern "C"
