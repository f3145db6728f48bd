// The one-camera program: start-up, settings, the take-images and scan
// commands, the device test panel and the ordered shutdown.
#pragma once

namespace pelu::earlier {

// Loads the three panels, shows the main panel and runs the event loop.
// Returns 0 after the loop ends, -1 when the run-time or a resource fails.
int PELU_main();
// Binds every callback name of this program's PELU.uir.
void RegisterEarlierCallbacks();

int panel_proc(int panel, int control, int event, void* data, int eventData1, int eventData2);
int QuitCallback(int panel, int control, int event, void* data, int eventData1, int eventData2);
int Obs_Test(int panel, int control, int event, void* data, int eventData1, int eventData2);
int test_panel_proc(int panel, int control, int event, void* data, int eventData1, int eventData2);
int Set_PELU_parameter(int panel, int control, int event, void* data, int eventData1,
                       int eventData2);
int PELU_setOK(int panel, int control, int event, void* data, int eventData1, int eventData2);
int PELU_setApply(int panel, int control, int event, void* data, int eventData1, int eventData2);
int cmdOK(int panel, int control, int event, void* data, int eventData1, int eventData2);
int cmd_Run(int panel, int control, int event, void* data, int eventData1, int eventData2);
int cmdStop(int panel, int control, int event, void* data, int eventData1, int eventData2);

// The live view (a thread function): frame 0 of the current camera, taken
// and shown again and again while threadparam is 0. Returns 0.
int LiveViewThread();

}  // namespace pelu::earlier
