#include "earlier/devices_earlier.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "camera/camera.h"
#include "camera/camera_lock.h"
#include "display/display.h"
#include "earlier/earlier_state.h"
#include "earlier/wv_earlier.h"
#include "motors/grating_focus.h"
#include "platform/motion6k/motion6k.h"
#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "resources/earlier_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu::earlier {
namespace {

// Polls the current camera until it is idle; an acquisition that never ends
// is aborted after `seconds` of instrument time so that closing goes on.
void WaitUntilIdle(double seconds) {
    const int polls = std::max(1, static_cast<int>(seconds * 1000.0));
    int status = 0;
    for (int i = 0; i < polls; ++i) {
        if (Sdk(GetStatus(&status)) != DRV_SUCCESS || status != int(DRV_ACQUIRING)) return;
        os::Sleep(1);
    }
    Sdk(AbortAcquisition());
}

void AppendStatus(const std::string& text) { ShowStatus(text); }

}  // namespace

int OpenCamera() {
    CameraLock lock;
    if (!InitializeCurrentCamera(44)) return 0;
    int width = 0, height = 0;
    if (Sdk(GetDetector(&width, &height)) != DRV_SUCCESS)
        CameraPopup("Error", "Get Detector information Error");
    earlierState.g_nXPixels = width;
    earlierState.g_nYPixels = height;
    SyncSharedGeometry();
    FillGreyRamp(state.colortable);
    state.CCD_status = kDeviceOn;
    return 1;
}

bool CamerasOn() {
    CameraBringUp bringUp;
    bringUp.twoCamerasMessage = "\n2 Camera Detected!!\n";
    bringUp.open = [](int) { return OpenCamera(); };
    return pelu::CamerasOn(bringUp);
}

int CloseCamera(int handle) {
    CameraLock lock;
    WaitUntilIdle(10.0 + 2.0 * state.g_fExpTime1);
    if (Sdk(CoolerOFF()) != DRV_SUCCESS) CameraPopup("Error", "Error switching cooler off");
    // The shutter, fan and shut-down sequence is the shared one.
    return pelu::CloseCamera(handle);
}

void CamerasOff() {
    {
        std::lock_guard display(DisplayMutex());
        state.planeDataCCD.Release();
    }
    CloseEachCamera(CloseCamera);
}

void SetCameraParam(int acquisitionMode, int readMode, int triggerMode, int gain, int hbin,
                    int vbin, float exposure, int shutterMode, int fanMode, int frames,
                    int numberKinetics, float kineticCycleTime) {
    if (BinningRefused(hbin, vbin)) return;
    CameraLock lock;
    // The one geometry holds the size of the camera opened last; the two
    // cameras may differ, so the current camera's own size is asked again.
    int x = 0, y = 0;
    if (Sdk(GetDetector(&x, &y)) == DRV_SUCCESS) {
        earlierState.g_nXPixels = x;
        earlierState.g_nYPixels = y;
    }
    x = earlierState.g_nXPixels;
    y = earlierState.g_nYPixels;

    // Full detector frames, however the image is binned.
    size_t n = 1;
    if (numberKinetics == 0 && frames > 0)
        n = size_t(frames);
    else if (frames == 0 && numberKinetics > 0)
        n = size_t(numberKinetics);
    {
        std::lock_guard display(DisplayMutex());
        state.planeDataCCD.Release();
        if (!state.g_pRawData.Allocate(size_t(std::max(x, 0)) * size_t(std::max(y, 0)) * n)) {
            std::printf("Not Allocate the memory for g_pRawData\n");
            std::fflush(stdout);
        }
    }
    earlierState.nhDim = x / hbin;
    earlierState.nvDim = y / vbin;
    SyncSharedGeometry();

    // The image area is always the whole detector, columns 1..x, rows 1..y.
    const int firstColumn = 1, lastColumn = x, firstRow = 1, lastRow = y;
    if (firstColumn > lastColumn || firstRow > lastRow) CameraPopup("Error", kStartAfterEnd);
    if (firstColumn < 1 || lastColumn > x) CameraPopup("Error", kHorizontalOutside);
    if (firstRow < 1 || lastRow > y) CameraPopup("Error", kVerticalOutside);
    if ((lastColumn - firstColumn + 1) % hbin != 0) CameraPopup("Error", kWidthNotMultiple);
    if ((lastRow - firstRow + 1) % vbin != 0) CameraPopup("Error", kHeightNotMultiple);

    if (Sdk(SetAcquisitionMode(acquisitionMode)) != DRV_SUCCESS)
        CameraPopup("Error", "Set Acquisition Mode Error");
    if (acquisitionMode == 3) {
        if (Sdk(SetNumberKinetics(numberKinetics)) != DRV_SUCCESS)
            CameraPopup("Error", "Set number kinetics error");
        (void)kineticCycleTime;  // a kinetic series always runs at the shortest cycle
        if (Sdk(SetKineticCycleTime(0.0f)) != DRV_SUCCESS)
            CameraPopup("Error", "Set kinetic cycle time error");
    } else if (acquisitionMode == 6) {
        Sdk(SetFrameTransferMode(1));
        if (Sdk(SetNumberKinetics(numberKinetics)) != DRV_SUCCESS)
            CameraPopup("Error", "Set number Frames error");
    }

    ReadoutSettings readout =
        ReadoutOf(readMode, triggerMode, gain, exposure, shutterMode, fanMode);
    readout.vsIndex = 4;
    readout.hbin = hbin;
    readout.vbin = vbin;
    readout.columns = x;
    readout.rows = y;
    readout.baselineMessage = "BaseLine Clamp Setting enalbe\n";
    int32_t current = 0;
    Sdk(GetCurrentCamera(&current));
    readout.handle = current;
    ApplyReadoutSettings(readout);
}

bool TakeFrame(int frame) {
    // The shared acquisition finds the one raw buffer under camera 1's handle.
    return TakeImage(earlierState.nhDim, earlierState.nvDim, state.nCameraHandle1, frame);
}

int TemperatureWatch() {
    while (earlierState.temperatureStop == 0) {
        int temperature = 0;
        unsigned status = 0;
        {
            CameraLock lock;
            status = Sdk(GetTemperature(&temperature));
        }
        if (status != DRV_TEMP_STABILIZED) {
            os::Sleep(1000);
            {
                CameraLock lock;
                status = Sdk(GetTemperature(&temperature));
            }
            AppendStatus(Format("Current Temperature of CCD chip is %d\n", temperature));
        }
        if (status == DRV_TEMP_STABILIZED) {
            earlierState.temperatureStop = 1;
            AppendStatus("Temperature Stabilized!\n");
        }
    }
    return 0;
}

void UseEarlierMotors() {
    MotorEdition edition;
    edition.axes = 3;
    edition.driveEnable = "DRIVE111X:";
    edition.driveDisable = "DRIVE000X:";
    edition.slitHatch = false;
    // The settings dialog offers the wavelengths of this program's Wv.ini.
    edition.loadWavelengths = [] { return InitWvRing(); };
    edition.initialiseOleOnce = true;
    SetMotorEdition(edition);
}

int CCD_TurnOnOff(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    const int main = state.mainPanel;
    if (state.CCD_status == kDeviceOn) {
        state.threadparam = 1;  // the live view acquires into the buffers freed here
        earlierState.temperatureStop = 1;  // and the temperature watch reads the cameras
        ui::SetCtrlAttribute(main, MAIN_CCD_TOGGLE, ui::ATTR_LABEL_TEXT, "CCD Off");
        SetDimmed(main, MAIN_PICTURE, true);
        CamerasOff();
        ui::SetCtrlVal(main, MAIN_CCD_LED, 0);
    } else {
        ui::SetCtrlAttribute(main, MAIN_CCD_TOGGLE, ui::ATTR_LABEL_TEXT, "CCD On");
        if (!CamerasOn()) {
            ui::SetCtrlVal(main, MAIN_CCD_TOGGLE, 0);
            ui::SetCtrlAttribute(main, MAIN_CCD_TOGGLE, ui::ATTR_LABEL_TEXT, "CCD Off");
        }
        ui::SetCtrlVal(main, MAIN_CCD_LED, state.CCD_status == kDeviceOn ? 1 : 0);
    }
    return 0;
}

int CoolerOnOff(int panel, int control, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    if (GetInt(panel, control) == 1) {
        // The observer asks to switch the cooler off: warm the chip to 0 C first.
        int temperature = 0;
        {
            CameraLock lock;
            Sdk(GetTemperature(&temperature));
        }
        while (temperature < 0) {
            {
                CameraLock lock;
                Sdk(SetTemperature(10));
                Sdk(GetTemperature(&temperature));
            }
            ShowStatus(Format("Current Temperature on CCD is %d\n", temperature));
            if (temperature < 0) os::Sleep(1000);
        }
        SetDimmed(state.mainPanel, MAIN_SETPOINT, true);
        unsigned result = 0;
        {
            CameraLock lock;
            result = Sdk(CoolerOFF());
        }
        ShowStatus("\nCooler Off!\n");
        if (result != DRV_SUCCESS) ShowWarning(Warning::Device, "\nError Switching Cooler Off!\n");
    } else {
        SetDimmed(state.mainPanel, MAIN_SETPOINT, false);
        unsigned result = 0;
        {
            CameraLock lock;
            result = Sdk(CoolerON());
        }
        ShowStatus("\nCooler On!\n");
        if (result != DRV_SUCCESS) ShowWarning(Warning::Device, "\nCould not switch cooler On!\n");
    }
    return 0;
}

int setCooler(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    if (GetInt(state.mainPanel, MAIN_COOLER) == 1) {
        CameraLock lock;
        Sdk(CoolerOFF());
        return 0;
    }
    SetDimmed(state.mainPanel, MAIN_SETPOINT, false);
    const int setPoint = GetInt(state.mainPanel, MAIN_SETPOINT);
    unsigned coolerOn = 0, result = 0;
    {
        CameraLock lock;
        coolerOn = Sdk(CoolerON());
        result = Sdk(SetTemperature(setPoint));
    }
    // A cooler that did not switch on never reaches the set point: there is
    // nothing to watch, and the set point is not said as if it were wanted.
    if (coolerOn != DRV_SUCCESS || result != DRV_SUCCESS) {
        ShowWarning(Warning::Device, "\nCould not switch cooler On!\n");
        ui::MessagePopup(
            "Error", Format("The camera refused to %s (error %u): the chip is not "
                            "being cooled. Check that the camera is on and answers.",
                            coolerOn != DRV_SUCCESS ? "switch its cooler on" : "take the set point",
                            coolerOn != DRV_SUCCESS ? coolerOn : result));
        return 0;
    }
    ShowStatus(Format("Temperature wanted on CCD Chip is %d\n", setPoint));
    earlierState.temperatureStop = 0;
    int id = 0;
    if (ui::ScheduleThreadFunction(TemperatureWatch, &id) >= 0) {
        ui::WaitForThreadFunctionCompletion(id);
        ui::ReleaseThreadFunctionID(id);
    }
    return 0;
}

}  // namespace pelu::earlier
