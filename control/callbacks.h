// Observation control: start-up, shutdown, menus and the settings dialog of
// PELU_dbg. All functions with the callback shape run on the dispatch thread.
#pragma once

namespace pelu {

// The program: loads the panels and the menu bar, runs the event loop.
// Returns 0 after the loop ends, -1 when the run-time or a resource fails.
int PELU_main();
// Binds every callback name of PELU.uir to its function.
void RegisterControlCallbacks();

// Start-up, main panel and shutdown.
int panel_proc(int panel, int control, int event, void* data, int eventData1, int eventData2);
int QuitCallback(int panel, int control, int event, void* data, int eventData1, int eventData2);
int InfoPanel_proc(int panel, int control, int event, void* data, int eventData1, int eventData2);
int Obs_Test(int panel, int control, int event, void* data, int eventData1, int eventData2);
int test_panel_proc(int panel, int control, int event, void* data, int eventData1, int eventData2);
void mnuOpen(int menuBar, int menuItem, void* data, int panel);
void mnuSave(int menuBar, int menuItem, void* data, int panel);
void mnuExit(int menuBar, int menuItem, void* data, int panel);
void mnuSetup(int menuBar, int menuItem, void* data, int panel);
void mnuTest(int menuBar, int menuItem, void* data, int panel);
void mnuAbout(int menuBar, int menuItem, void* data, int panel);
// The header viewer: the cards of the FITS file on screen, in a panel of its own.
void mnuHeader(int menuBar, int menuItem, void* data, int panel);
int cmdShowHeader(int panel, int control, int event, void* data, int eventData1, int eventData2);
int HeaderPanel_proc(int panel, int control, int event, void* data, int eventData1, int eventData2);

// Settings dialog.
int Set_PELU_parameter(int panel, int control, int event, void* data, int eventData1,
                       int eventData2);
int SetPELU_proc(int panel, int control, int event, void* data, int eventData1, int eventData2);
int PELU_setCancel(int panel, int control, int event, void* data, int eventData1, int eventData2);
int CCD_setBinning(int panel, int control, int event, void* data, int eventData1, int eventData2);
int Scan_Mode(int panel, int control, int event, void* data, int eventData1, int eventData2);
int PELU_setOK(int panel, int control, int event, void* data, int eventData1, int eventData2);
// Frees every frame buffer the settings OK replaces: the series, the
// bias/dark frames, the flat buffers and the planes of a stored file.
// The caller holds the camera lock.
void FreeFrameBuffers();

// Motor switch and the motor section of the device test panel.
int Motor_TurnOnOff(int panel, int control, int event, void* data, int eventData1, int eventData2);
int Motor_Stop(int panel, int control, int event, void* data, int eventData1, int eventData2);
int motor_device_select(int panel, int control, int event, void* data, int eventData1,
                        int eventData2);
int motor_step_increase(int panel, int control, int event, void* data, int eventData1,
                        int eventData2);
int motor_step_decrease(int panel, int control, int event, void* data, int eventData1,
                        int eventData2);
// Binds the motor callback names of PELU.uir.
void RegisterMotorCallbacks();

// Camera switch, cooling controls of the device test panel, camera choice
// of the settings dialog.
int CCD_TurnOnOff(int panel, int control, int event, void* data, int eventData1, int eventData2);
int setCooler(int panel, int control, int event, void* data, int eventData1, int eventData2);
int CCD_setCamera(int panel, int control, int event, void* data, int eventData1, int eventData2);
// Binds the camera callback names of PELU.uir (RegisterControlCallbacks calls it).
void RegisterCameraCallbacks();

// Open control of the main panel (also the open menu item): a stored FITS
// or BMP file into the display.
int cmdOpen(int panel, int control, int event, void* data, int eventData1, int eventData2);
// Asks for a file name and writes the plane on screen there as a BMP,
// scaled by the main panel's scale limits.
void SaveDisplayAsBitmap();

// The observation run (Run control) and its Stop control.
int cmd_Run(int panel, int control, int event, void* data, int eventData1, int eventData2);
int cmdStop(int panel, int control, int event, void* data, int eventData1, int eventData2);

// Ends a running live view and waits until its thread has returned, so that
// nothing it writes into is freed under it.
void StopLiveView();

}  // namespace pelu
