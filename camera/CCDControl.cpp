// Cooling: the coolers of both cameras, the temperature watch and the
// warm-up that precedes every shut-down, with the temperature history the
// test panel plots.
#include <algorithm>
#include <chrono>
#include <deque>
#include <mutex>

#include "camera/camera.h"
#include "camera/camera_lock.h"
#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/progress.h"
#include "state/status.h"

namespace pelu {
namespace {

// The warm-up gives up after this many instrument seconds, so a sensor that
// never warms cannot keep the program from closing.
constexpr double kWarmUpLimitSeconds = 1800.0;
constexpr size_t kHistoryLength = 7200;

struct Reading {
    int temperature1 = 0, temperature2 = 0;
    unsigned status1 = DRV_SUCCESS, status2 = DRV_SUCCESS;
    bool hasCamera1 = false, hasCamera2 = false;

    bool Stabilised() const {
        return (!hasCamera1 || status1 == DRV_TEMP_STABILIZED) &&
               (!hasCamera2 || status2 == DRV_TEMP_STABILIZED);
    }
    bool AboveFive() const {
        return (!hasCamera1 || temperature1 > 5) && (!hasCamera2 || temperature2 > 5);
    }
    // A status that is no temperature state: the camera cannot be read.
    bool Unreadable() const {
        auto bad = [](unsigned s) { return s < DRV_TEMP_OFF || s > DRV_TEMP_DRIFT; };
        return (hasCamera1 && bad(status1)) || (hasCamera2 && bad(status2));
    }
};

std::mutex historyMutex;
std::deque<CoolingSample> history;
std::chrono::steady_clock::time_point historyStart;

bool HasCamera1() { return state.nCameraHandle1 != 0; }
bool HasCamera2() { return state.nCameraHandle2 != 0; }

// Appends to the main status box and to the test panel's cooling status box.
void ShowCooling(const std::string& text) {
    ShowStatus(text);
    if (state.testpanel > 0) ui::SetCtrlVal(state.testpanel, TEST_COOLSTATUS, text);
}

void StartHistory() {
    std::lock_guard<std::mutex> lock(historyMutex);
    history.clear();
    historyStart = std::chrono::steady_clock::now();
}

void PlotHistory(const std::deque<CoolingSample>& samples) {
    const int panel = state.testpanel;
    if (panel <= 0) return;
    std::vector<double> t, set1, temp1, set2, temp2;
    for (const CoolingSample& s : samples) {
        t.push_back(s.seconds);
        set1.push_back(s.setPoint1);
        temp1.push_back(s.temperature1);
        set2.push_back(s.setPoint2);
        temp2.push_back(s.temperature2);
    }
    ui::DeleteGraphPlot(panel, TEST_TEMP_GRAPH, -1);
    ui::PlotXY(panel, TEST_TEMP_GRAPH, t, set1, ui::VAL_SCATTER, ui::VAL_BLUE);
    ui::PlotXY(panel, TEST_TEMP_GRAPH, t, temp1, ui::VAL_THIN_LINE, ui::VAL_BLUE);
    if (!samples.empty() && samples.back().hasCamera2) {
        ui::PlotXY(panel, TEST_TEMP_GRAPH, t, set2, ui::VAL_SCATTER, ui::VAL_RED);
        ui::PlotXY(panel, TEST_TEMP_GRAPH, t, temp2, ui::VAL_THIN_LINE, ui::VAL_RED);
    }
}

void ShowSensors(const Reading& r);

void Record(const Reading& r) {
    std::deque<CoolingSample> copy;
    {
        std::lock_guard<std::mutex> lock(historyMutex);
        CoolingSample s;
        s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - historyStart)
                        .count() / os::TimeScale();
        s.setPoint1 = ccd.setPoint1;
        s.temperature1 = r.temperature1;
        s.setPoint2 = ccd.setPoint2;
        s.temperature2 = r.temperature2;
        s.hasCamera2 = r.hasCamera2;
        history.push_back(s);
        if (history.size() > kHistoryLength) history.pop_front();
        copy = history;
    }
    PlotHistory(copy);
    ShowSensors(r);
}

// What the main panel says of one camera's sensor: its temperature and what
// its cooler does.
std::string SensorText(bool present, int temperature, unsigned status, int setPoint) {
    if (!present) return "";
    switch (status) {
        case DRV_TEMP_OFF:
            return Format("%d °C, off", temperature);
        case DRV_TEMP_STABILIZED:
            return Format("%d °C, stable", temperature);
        case DRV_TEMP_NOT_STABILIZED:
        case DRV_TEMP_NOT_REACHED:
        case DRV_TEMP_DRIFT:
            return Format("%d °C → %d °C", temperature, setPoint);
        default:
            return "not readable";
    }
}

void ShowSensors(const Reading& r) {
    SetText(state.mainPanel, MAIN_CCD1_TEMP,
            SensorText(r.hasCamera1, r.temperature1, r.status1, ccd.setPoint1));
    SetText(state.mainPanel, MAIN_CCD2_TEMP,
            SensorText(r.hasCamera2, r.temperature2, r.status2, ccd.setPoint2));
}

// While it lives, the camera lock is held and the camera current at its
// start is made current again at its end: a temperature read that comes in
// the middle of a scan taking its frames from the current camera leaves the
// scan its own camera.
class KeepCurrentCamera {
  public:
    KeepCurrentCamera() {
        known_ = Sdk(GetCurrentCamera(&handle_)) == DRV_SUCCESS && handle_ != 0;
    }
    ~KeepCurrentCamera() {
        if (known_) Sdk(SetCurrentCamera(handle_));
    }
    KeepCurrentCamera(const KeepCurrentCamera&) = delete;
    KeepCurrentCamera& operator=(const KeepCurrentCamera&) = delete;

  private:
    CameraLock lock_;
    int32_t handle_ = 0;
    bool known_ = false;
};

// Reads the temperature of each camera that was found, each made current
// first, without recording it (the main panel's display).
Reading ReadSensors() {
    Reading r;
    r.hasCamera1 = HasCamera1();
    r.hasCamera2 = HasCamera2();
    const KeepCurrentCamera keep;
    if (r.hasCamera1) {
        CameraSession session(state.nCameraHandle1);
        r.status1 = Sdk(GetTemperature(&r.temperature1));
    }
    if (r.hasCamera2) {
        CameraSession session(state.nCameraHandle2);
        r.status2 = Sdk(GetTemperature(&r.temperature2));
    }
    return r;
}

// Reads the temperature of each camera that was found, each made current
// first, and records it in the cooling history.
Reading ReadTemperatures() {
    const Reading r = ReadSensors();
    Record(r);
    return r;
}

// "CCD1 -26 C, CCD2 -25 C" for the progress line.
std::string TemperaturesText(const Reading& r) {
    if (!r.hasCamera2) return Format("CCD1 %d C", r.temperature1);
    return Format("CCD1 %d C, CCD2 %d C", r.temperature1, r.temperature2);
}

std::string TemperatureLine(const Reading& r) {
    if (!r.hasCamera2) return Format("CCD1: %d C\n", r.temperature1);
    return Format("CCD1: %d C CCD2: %d C\n", r.temperature1, r.temperature2);
}

// Cooler of one camera on at `temperature` (flag 0) or off; the status of the cooler call.
unsigned SetCooler(int handle, int coolerOff, int temperature, std::atomic<int>& setPoint) {
    CameraSession session(handle);
    if (coolerOff == 0) {
        if (Sdk(SetTemperature(temperature)) == DRV_SUCCESS) setPoint = temperature;
        return Sdk(CoolerON());
    }
    return Sdk(CoolerOFF());
}

}  // namespace

void ShowSensorStates() {
    if (state.CCD_status != kDeviceOn) {
        ShowSensors(Reading{});
        return;
    }
    ShowSensors(ReadSensors());
}

std::vector<CoolingSample> CoolingHistory() {
    std::lock_guard<std::mutex> lock(historyMutex);
    return {history.begin(), history.end()};
}

void ClearCoolingHistory() { StartHistory(); }

int TempSet(int coolerOff1, int coolerOff2, int temperature1, int temperature2,
            const std::function<void()>& applied) {
    ccd.temp_thread = 1;
    unsigned result1 = DRV_SUCCESS, result2 = DRV_SUCCESS;
    if (HasCamera1()) result1 = SetCooler(state.nCameraHandle1, coolerOff1, temperature1, ccd.setPoint1);
    // With a single camera there is no second half to address.
    if (HasCamera2()) result2 = SetCooler(state.nCameraHandle2, coolerOff2, temperature2, ccd.setPoint2);
    if (result1 != DRV_SUCCESS || result2 != DRV_SUCCESS) {
        ccd.temp_thread = 0;
        return 0;
    }
    if (applied) applied();
    if (coolerOff1 == 0 || coolerOff2 == 0) {
        ccd.temp_thread = 0;
        StartHistory();
        ui::ScheduleThreadFunction(setTempThread, &ccd.temp_thread_id);
        ui::WaitForThreadFunctionCompletion(ccd.temp_thread_id);
        ui::ReleaseThreadFunctionID(ccd.temp_thread_id);
        ccd.temp_thread_id = 0;
    }
    return 1;
}

int setTempThread() {
    if (!HasCamera1() && !HasCamera2()) return 0;  // nothing to watch
    const auto start = std::chrono::steady_clock::now();
    int first = 0;  // distance to the set points at the first reading, for the bar
    while (ccd.temp_thread == 0) {
        Reading r = ReadTemperatures();
        const int distance =
            std::max(HasCamera1() ? std::abs(r.temperature1 - ccd.setPoint1) : 0,
                     HasCamera2() ? std::abs(r.temperature2 - ccd.setPoint2) : 0);
        if (first == 0) first = std::max(distance, 1);
        ShowProgress(Format("Cooling to %d / %d C: %s", ccd.setPoint1.load(), ccd.setPoint2.load(),
                            TemperaturesText(r).c_str()),
                     1.0 - std::min(1.0, double(distance) / first),
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                             .count() / os::TimeScale(),
                     -1);
        if (r.Stabilised()) {
            ShowCooling("Temperature Stabilized!\n");
            ClearProgress("Cooling: temperatures stable");
            ccd.temp_thread = 1;
        } else {
            os::Delay(1.0);
            r = ReadTemperatures();
            ShowCooling(TemperatureLine(r));
        }
    }
    return 0;
}

int CameraQuitCooling() {
    ccd.temp_thread = 1;
    if (!HasCamera1() && !HasCamera2()) return 1;
    StartHistory();
    if (HasCamera1()) {
        CameraSession session(state.nCameraHandle1);
        if (Sdk(SetTemperature(10)) == DRV_SUCCESS) ccd.setPoint1 = 10;
    }
    if (HasCamera2()) {
        CameraSession session(state.nCameraHandle2);
        if (Sdk(SetTemperature(10)) == DRV_SUCCESS) ccd.setPoint2 = 10;
    }
    const auto start = std::chrono::steady_clock::now();
    bool done = false;
    int coldest = 5;  // where the warm-up started, for the progress bar
    while (!done) {
        Reading r = ReadTemperatures();
        const int warmest = std::min(r.hasCamera1 ? r.temperature1 : 99,
                                     r.hasCamera2 ? r.temperature2 : 99);
        coldest = std::min(coldest, warmest);
        ShowProgress(Format("Warm-up to 5 C: %s", TemperaturesText(r).c_str()),
                     coldest < 5 ? double(warmest - coldest) / double(5 - coldest) : 1.0,
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                             .count() / os::TimeScale(),
                     -1);
        if (r.Unreadable()) {
            ShowCooling(Format("Camera temperature cannot be read (error %u): warm-up ended\n",
                               HasCamera1() && (r.status1 < DRV_TEMP_OFF || r.status1 > DRV_TEMP_DRIFT)
                                   ? r.status1 : r.status2));
            break;
        }
        if (r.AboveFive()) done = true;
        if (r.Stabilised()) {
            ShowCooling("Temperature Stabilized!\n");
            if (HasCamera2()) {
                CameraSession session(state.nCameraHandle2);
                Sdk(CoolerOFF());
            }
            if (HasCamera1()) {
                CameraSession session(state.nCameraHandle1);
                Sdk(CoolerOFF());
            }
            done = true;
        } else {
            // The window answers while the cameras warm.
            ui::DelayWithEvents(1.0);
            r = ReadTemperatures();
            ShowCooling(TemperatureLine(r));
        }
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
            os::TimeScale();
        if (!done && elapsed > kWarmUpLimitSeconds) {
            ShowCooling("Warm-up did not finish in 30 minutes: the cameras are closed cold\n");
            break;
        }
    }
    ClearProgress("Warm-up ended");
    return 1;
}

}  // namespace pelu
