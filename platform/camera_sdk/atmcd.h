// The camera SDK's C API as the programs call it: one process-wide current
// camera, every call acting on it, every call returning a status code. Our
// simulator implements it (simulator.cpp); a vendor library with the same
// API could be linked in its place.
#pragma once

#include <cstdint>

extern "C" {

// ---- status codes --------------------------------------------------------------------------
constexpr unsigned int DRV_ERROR_CODES = 20001;
constexpr unsigned int DRV_SUCCESS = 20002;
constexpr unsigned int DRV_VXDNOTINSTALLED = 20003;
constexpr unsigned int DRV_ERROR_FILELOAD = 20006;
constexpr unsigned int DRV_ERROR_ACK = 20013;
constexpr unsigned int DRV_NO_NEW_DATA = 20024;
constexpr unsigned int DRV_SPOOLERROR = 20026;
constexpr unsigned int DRV_TEMP_OFF = 20034;
constexpr unsigned int DRV_TEMP_NOT_STABILIZED = 20035;
constexpr unsigned int DRV_TEMP_STABILIZED = 20036;
constexpr unsigned int DRV_TEMP_NOT_REACHED = 20037;
constexpr unsigned int DRV_TEMP_OUT_RANGE = 20038;
constexpr unsigned int DRV_TEMP_NOT_SUPPORTED = 20039;
constexpr unsigned int DRV_TEMP_DRIFT = 20040;
constexpr unsigned int DRV_GENERAL_ERRORS = 20049;
constexpr unsigned int DRV_INVALID_AUX = 20050;
constexpr unsigned int DRV_P1INVALID = 20066;
constexpr unsigned int DRV_P2INVALID = 20067;
constexpr unsigned int DRV_P3INVALID = 20068;
constexpr unsigned int DRV_P4INVALID = 20069;
constexpr unsigned int DRV_INIERROR = 20070;
constexpr unsigned int DRV_COFERROR = 20071;
constexpr unsigned int DRV_ACQUIRING = 20072;
constexpr unsigned int DRV_IDLE = 20073;
constexpr unsigned int DRV_TEMPCYCLE = 20074;
constexpr unsigned int DRV_NOT_INITIALIZED = 20075;
constexpr unsigned int DRV_P5INVALID = 20076;
constexpr unsigned int DRV_P6INVALID = 20077;
constexpr unsigned int DRV_NOT_SUPPORTED = 20991;
constexpr unsigned int DRV_NOT_AVAILABLE = 20992;

// ---- capability record ------------------------------------------------------------------------
struct AndorCapabilities {
    uint32_t ulSize;  // set to sizeof(AndorCapabilities) = 48 before GetCapabilities
    uint32_t ulAcqModes;
    uint32_t ulReadModes;
    uint32_t ulTriggerModes;
    uint32_t ulCameraType;
    uint32_t ulPixelMode;
    uint32_t ulSetFunctions;
    uint32_t ulGetFunctions;
    uint32_t ulFeatures;
    uint32_t ulPCICard;
    uint32_t ulEMGainCapability;
    uint32_t ulFTReadModes;
};

// ---- cameras ------------------------------------------------------------------------------------
unsigned int GetAvailableCameras(int32_t* totalCameras);
unsigned int GetCameraHandle(int32_t cameraIndex, int32_t* cameraHandle);
unsigned int SetCurrentCamera(int32_t cameraHandle);
unsigned int GetCurrentCamera(int32_t* cameraHandle);

// ---- life ---------------------------------------------------------------------------------------
unsigned int Initialize(const char* directory);
unsigned int ShutDown();

// ---- queries ------------------------------------------------------------------------------------
unsigned int GetCapabilities(AndorCapabilities* caps);
unsigned int GetHeadModel(char* name);  // at least 32 bytes
unsigned int GetDetector(int* xpixels, int* ypixels);
unsigned int GetNumberVSSpeeds(int* speeds);
unsigned int GetVSSpeed(int index, float* speed);
unsigned int GetNumberADChannels(int* channels);
unsigned int GetNumberHSSpeeds(int channel, int type, int* speeds);
unsigned int GetHSSpeed(int channel, int type, int index, float* speed);
unsigned int GetHardwareVersion(unsigned int* pcb, unsigned int* decode, unsigned int* dummy1,
                                unsigned int* dummy2, unsigned int* cameraFirmwareVersion,
                                unsigned int* cameraFirmwareBuild);
unsigned int GetSoftwareVersion(unsigned int* eprom, unsigned int* coffile, unsigned int* vxdrev,
                                unsigned int* vxdver, unsigned int* dllrev, unsigned int* dllver);
unsigned int GetTemperatureRange(int* mintemp, int* maxtemp);
unsigned int GetEMGainRange(int* low, int* high);
unsigned int GetEMCCDGain(int* gain);
unsigned int GetNumberPreAmpGains(int* noGains);
unsigned int IsTriggerModeAvailable(int triggerMode);

// ---- settings -----------------------------------------------------------------------------------
unsigned int SetAcquisitionMode(int mode);
unsigned int SetFrameTransferMode(int mode);
unsigned int SetNumberKinetics(int number);
unsigned int SetKineticCycleTime(float time);
unsigned int SetReadMode(int mode);
unsigned int SetVSSpeed(int index);
unsigned int SetADChannel(int channel);
unsigned int SetHSSpeed(int type, int index);
unsigned int SetShutter(int type, int mode, int closingTime, int openingTime);
unsigned int SetFanMode(int mode);
unsigned int SetPreAmpGain(int index);
unsigned int SetEMCCDGain(int gain);
unsigned int SetImage(int hbin, int vbin, int hstart, int hend, int vstart, int vend);
unsigned int SetTriggerMode(int mode);
unsigned int SetExposureTime(float time);
unsigned int SetBaselineClamp(int state);
unsigned int SetBaselineOffset(int offset);

// ---- acquisition --------------------------------------------------------------------------------
unsigned int StartAcquisition();
unsigned int GetStatus(int* status);
unsigned int GetAcquiredData16(uint16_t* array, uint32_t size);
unsigned int AbortAcquisition();
unsigned int GetAcquisitionTimings(float* exposure, float* accumulate, float* kinetic);

// ---- cooling ------------------------------------------------------------------------------------
unsigned int SetTemperature(int temperature);
unsigned int CoolerON();
unsigned int CoolerOFF();
unsigned int GetTemperature(int* temperature);

}  // extern "C"
