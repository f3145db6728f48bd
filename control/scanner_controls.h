// The observer's scanner controls: the scanner switch of the main panel, the
// gather upload, and the jog buttons and command line of the device test
// panel. All run on the dispatch thread.
#pragma once

#include "control/monitoring.h"
#include "scanner/scanner.h"

namespace pelu {

// What the scanner switch runs when it switches the scanner on: the open
// operation and the monitoring loop that watches the stage and serves the
// frame requests of a scan.
struct ScannerSwitch {
    int (*open)() = ScanOpen;
    int (*monitoringThread)() = MonitoringThreadFunction;
};

// Binds the scanner's callback names of the panels (including the amp
// timer's); the switch runs `scannerSwitch`.
void RegisterScannerCallbacks(const ScannerSwitch& scannerSwitch = {});

int Scan_TurnOnOff(int panel, int control, int event, void* data, int eventData1, int eventData2);
int SlitStepDecrease(int panel, int control, int event, void* data, int eventData1,
                     int eventData2);
int SlitStepIncrease(int panel, int control, int event, void* data, int eventData1,
                     int eventData2);
int SetZero(int panel, int control, int event, void* data, int eventData1, int eventData2);
int upload_data(int panel, int control, int event, void* data, int eventData1, int eventData2);
int radio_scan(int panel, int control, int event, void* data, int eventData1, int eventData2);
int radio_motor(int panel, int control, int event, void* data, int eventData1, int eventData2);
int STR_Command(int panel, int control, int event, void* data, int eventData1, int eventData2);

}  // namespace pelu
