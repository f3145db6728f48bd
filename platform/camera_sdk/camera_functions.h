// Every call of the camera SDK's C API (atmcd.h) that the programs bind, as
// X(name, (parameters), (arguments)); each returns a status code.
#pragma once

#define PELU_CAMERA_FUNCTIONS(X) \
    X(GetAvailableCameras, (int32_t* totalCameras), (totalCameras)) \
    X(GetCameraHandle, (int32_t cameraIndex, int32_t* cameraHandle), (cameraIndex, cameraHandle)) \
    X(SetCurrentCamera, (int32_t cameraHandle), (cameraHandle)) \
    X(GetCurrentCamera, (int32_t* cameraHandle), (cameraHandle)) \
    X(Initialize, (const char* directory), (directory)) \
    X(ShutDown, (), ()) \
    X(GetCapabilities, (AndorCapabilities* caps), (caps)) \
    X(GetHeadModel, (char* name), (name)) \
    X(GetDetector, (int* xpixels, int* ypixels), (xpixels, ypixels)) \
    X(GetNumberVSSpeeds, (int* speeds), (speeds)) \
    X(GetVSSpeed, (int index, float* speed), (index, speed)) \
    X(GetNumberADChannels, (int* channels), (channels)) \
    X(GetNumberHSSpeeds, (int channel, int type, int* speeds), (channel, type, speeds)) \
    X(GetHSSpeed, (int channel, int type, int index, float* speed), (channel, type, index, speed)) \
    X(GetHardwareVersion, (unsigned int* pcb, unsigned int* decode, unsigned int* dummy1, unsigned int* dummy2, unsigned int* cameraFirmwareVersion, unsigned int* cameraFirmwareBuild), (pcb, decode, dummy1, dummy2, cameraFirmwareVersion, cameraFirmwareBuild)) \
    X(GetSoftwareVersion, (unsigned int* eprom, unsigned int* coffile, unsigned int* vxdrev, unsigned int* vxdver, unsigned int* dllrev, unsigned int* dllver), (eprom, coffile, vxdrev, vxdver, dllrev, dllver)) \
    X(GetTemperatureRange, (int* mintemp, int* maxtemp), (mintemp, maxtemp)) \
    X(GetEMGainRange, (int* low, int* high), (low, high)) \
    X(GetEMCCDGain, (int* gain), (gain)) \
    X(GetNumberPreAmpGains, (int* noGains), (noGains)) \
    X(IsTriggerModeAvailable, (int triggerMode), (triggerMode)) \
    X(SetAcquisitionMode, (int mode), (mode)) \
    X(SetFrameTransferMode, (int mode), (mode)) \
    X(SetNumberKinetics, (int number), (number)) \
    X(SetKineticCycleTime, (float time), (time)) \
    X(SetReadMode, (int mode), (mode)) \
    X(SetVSSpeed, (int index), (index)) \
    X(SetADChannel, (int channel), (channel)) \
    X(SetHSSpeed, (int type, int index), (type, index)) \
    X(SetShutter, (int type, int mode, int closingTime, int openingTime), (type, mode, closingTime, openingTime)) \
    X(SetFanMode, (int mode), (mode)) \
    X(SetPreAmpGain, (int index), (index)) \
    X(SetEMCCDGain, (int gain), (gain)) \
    X(SetImage, (int hbin, int vbin, int hstart, int hend, int vstart, int vend), (hbin, vbin, hstart, hend, vstart, vend)) \
    X(SetTriggerMode, (int mode), (mode)) \
    X(SetExposureTime, (float time), (time)) \
    X(SetBaselineClamp, (int state), (state)) \
    X(SetBaselineOffset, (int offset), (offset)) \
    X(StartAcquisition, (), ()) \
    X(GetStatus, (int* status), (status)) \
    X(GetAcquiredData16, (uint16_t* array, uint32_t size), (array, size)) \
    X(AbortAcquisition, (), ()) \
    X(GetAcquisitionTimings, (float* exposure, float* accumulate, float* kinetic), (exposure, accumulate, kinetic)) \
    X(SetTemperature, (int temperature), (temperature)) \
    X(CoolerON, (), ()) \
    X(CoolerOFF, (), ()) \
    X(GetTemperature, (int* temperature), (temperature))
