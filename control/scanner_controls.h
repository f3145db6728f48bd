// The observer's scanner controls: the scanner switch of the main panel, the
// gather upload, and the jog buttons and command line of the device test
// panel. All run on the dispatch thread.
#pragma once

namespace pelu {

// Binds the scanner's callback names of PELU.uir (including the amp timer's).
void RegisterScannerCallbacks();

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
