// The main panel's display callbacks: the frame selector and its axis, the
// scale limits and stretch, the camera view switches and the pointer on the
// picture. They choose what to show and hand it to the builders (views.h)
// and the drawing (display.h).
#pragma once

namespace pelu {

int SetSelectFrame(int panel, int control, int event, void* data, int eventData1, int eventData2);
int setFrameAxis(int panel, int control, int event, void* data, int eventData1, int eventData2);
int SetBytsclMin(int panel, int control, int event, void* data, int eventData1, int eventData2);
int SetBytsclMax(int panel, int control, int event, void* data, int eventData1, int eventData2);
int viewCCD1(int panel, int control, int event, void* data, int eventData1, int eventData2);
int viewCCD2(int panel, int control, int event, void* data, int eventData1, int eventData2);
int pic_window(int panel, int control, int event, void* data, int eventData1, int eventData2);
int setScaleStretch(int panel, int control, int event, void* data, int eventData1, int eventData2);

// Binds the display callback names of PELU.uir (these and drawHistogram).
void RegisterDisplayCallbacks();

}  // namespace pelu
