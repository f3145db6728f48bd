// The one-camera program's camera variants: opening without a capability
// report, closing with the cooler switched off, the twelve-argument
// configuration with its image-geometry checks, and the cooler commands of
// the main panel.
#pragma once

namespace pelu::earlier {

// Counts the cameras and opens one or two (camera 1 current afterwards).
bool CamerasOn();
// Closes the one camera, or each of the two made current in turn; no warm-up.
void CamerasOff();
// Initialises the current camera and records its detector size. Returns 1.
int OpenCamera();
// Waits for the camera to be idle, switches its cooler off, shuts it down.
int CloseCamera(int handle);

// The messages of the image-geometry checks, each shown in a popup titled
// "Error"; the configuration goes on after every one.
inline const char* const kStartAfterEnd = "Image start positions must not be greater than end positions";
inline const char* const kHorizontalOutside = "Image horiz. positions must be > 0 and < width";
inline const char* const kVerticalOutside = "Image vert.  positions must be > 0 and < width";
inline const char* const kWidthNotMultiple = "Image width must be a multiple of Horizontal Binning";
inline const char* const kHeightNotMultiple = "Image height must be a multiple of Vertical Binning";

// Configures the current camera and allocates the raw buffer for full
// detector frames; nhDim/nvDim become the binned image size.
void SetCameraParam(int acquisitionMode, int readMode, int triggerMode, int gain, int hbin,
                    int vbin, float exposure, int shutterMode, int fanMode, int frames,
                    int numberKinetics, float kineticCycleTime);

// Takes frame `frame` with the current camera into the one raw buffer.
// False when no frame could be taken (the reason is shown).
bool TakeFrame(int frame);

// The temperature watch (a thread function): reads the temperature until
// the camera reports it stable. Returns 0.
int TemperatureWatch();

// Makes the shared motor code drive this spectrograph: axes 1-3 only, its
// drive commands, no slit hatch, this program's wavelength list, the 6K
// library's OLE layer initialised once per program run.
void UseEarlierMotors();

int CCD_TurnOnOff(int panel, int control, int event, void* data, int eventData1, int eventData2);
int CoolerOnOff(int panel, int control, int event, void* data, int eventData1, int eventData2);
int setCooler(int panel, int control, int event, void* data, int eventData1, int eventData2);

}  // namespace pelu::earlier
