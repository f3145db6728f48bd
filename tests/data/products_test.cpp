// The data products as a reader outside this program sees them: observation,
// flat-field and bias/dark files read back with astropy and checked with
// fitsverify, the data directory on disk and makefolder.bat, with the
// simulated cameras behind the camera library.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "control/save_products.h"
#include "data/bias_dark.h"
#include "data/directory.h"
#include "data/fits_file.h"
#include "data/fits_writer.h"
#include "platform/camera_sdk/atmcd.h"
#include "platform/camera_sdk/simulator.h"
#include "platform/os/os.h"
#include "platform/ui/headless.h"
#include "platform/ui/runtime_internal.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"
#include "tests/platform/ui/ui_fixture.h"

namespace pelu {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// PELU.uir's main and settings panels with every callback but ours removed,
// so that the products run against the real page layout without the rest
// of the program.
std::string ProductPanels() {
    std::ifstream in(os::ExecutableDirectory() + "/PELU.uir");
    json uir = json::parse(in);
    std::function<void(json&)> strip = [&](json& node) {
        if (node.is_object()) {
            if (node.contains("callback") && node["callback"] != "make_foldert_arget")
                node.erase("callback");
            for (auto& [key, value] : node.items()) strip(value);
        } else if (node.is_array()) {
            for (auto& value : node) strip(value);
        }
    };
    json panels = json::array();
    for (auto& panel : uir["panels"])
        if (panel["name"] == "MAIN" || panel["name"] == "SETTINGS") panels.push_back(panel);
    json out = {{"status_box", uir["status_box"]}, {"panels", panels}};
    strip(out);
    return ui::testing::WriteResource(out.dump(), "products.uir");
}

std::string Run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), pipe)) > 0) output.append(chunk, n);
    pclose(pipe);
    return output;
}

// Header cards (keyword, Python type, value, comment), axes and pixels of the
// primary image as astropy reads them.
json ReadWithAstropy(const std::string& path) {
    const char* script = R"PY(
import json, sys
from astropy.io import fits
with fits.open(sys.argv[1]) as h:
    hdu = h[0]
    cards = [[c.keyword, type(c.value).__name__, c.value, c.comment] for c in hdu.header.cards]
    data = hdu.data
    out = {"hdus": len(h), "cards": cards, "shape": list(data.shape),
           "dtype": str(data.dtype), "pixels": data.ravel().tolist()}
    if len(h) > 1:
        t = h[1]
        out["table"] = {"name": t.name, "columns": t.columns.names,
                        "units": [c.unit or "" for c in t.columns],
                        "rows": [[v.item() if hasattr(v, "item") else v for v in row]
                                 for row in t.data.tolist()]}
    print(json.dumps(out))
)PY";
    const fs::path file = fs::temp_directory_path() / "pelu_read_fits.py";
    std::ofstream(file) << script;
    const std::string text = Run("/usr/bin/python3 " + file.string() + " '" + path + "' 2>&1");
    try {
        return json::parse(text);
    } catch (const json::exception&) {
        ADD_FAILURE() << "astropy could not read " << path << ": " << text;
        return json::object();
    }
}

std::string Fitsverify(const std::string& path) { return Run("/usr/bin/fitsverify -q '" + path + "' 2>&1"); }

json Card(const json& file, const std::string& key) {
    for (const auto& card : file["cards"])
        if (card[0] == key) return card;
    return json();
}

std::vector<std::string> Keys(const json& file) {
    std::vector<std::string> keys;
    for (const auto& card : file["cards"]) keys.push_back(card[0]);
    return keys;
}

class ProductsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::ResetRuntime();
        ui::InitRuntime();
        ui::SetFrontEnd(&frontEnd);
        ResetInstrumentState();
        RegisterDataCallbacks();
        const std::string uir = ProductPanels();
        state.mainPanel = ui::LoadPanel(0, uir, 2);
        state.PELUpanelSetting = ui::LoadPanel(0, uir, 3);
        ASSERT_GT(state.mainPanel, 0);
        ASSERT_GT(state.PELUpanelSetting, 0);
        ui::GetPanelHandleFromTabPage(state.PELUpanelSetting, SETTINGS_TAB, OBS_PAGE_INDEX, &obs);

        root = fs::temp_directory_path() /
               ("pelu-data-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root / "drive_E");
        os::SetDriveFolder('E', (root / "drive_E").string());
        previousDirectory = fs::current_path();
        fs::current_path(root);

        camsim::Reset(camsim::Config{});
        OpenCameras();
    }
    void TearDown() override {
        fs::current_path(previousDirectory);
        os::SetDriveFolder('E', "");
        ui::SetFrontEnd(nullptr);
        ui::ResetRuntime();
        ResetInstrumentState();
        fs::remove_all(root);
    }
    void OpenCameras() {
        int32_t handle = 0;
        GetCameraHandle(0, &handle);
        state.nCameraHandle1 = handle;
        SetCurrentCamera(handle);
        Initialize("");
        GetCameraHandle(1, &handle);
        state.nCameraHandle2 = handle;
        SetCurrentCamera(handle);
        Initialize("");
        state.g_nXPixels1 = 512;
        state.g_nYPixels1 = 512;
        state.g_nXPixels2 = 1004;
        state.g_nYPixels2 = 1002;
    }
    // A data folder under drive E and its host path.
    std::string DataFolder(const std::string& name = "obs") {
        fs::create_directories(root / "drive_E" / "DRAV_Data" / name);
        return "E:\\DRAV_Data\\" + name;
    }
    fs::path Host(const std::string& name = "obs") { return root / "drive_E" / "DRAV_Data" / name; }
    std::vector<fs::path> Files(const fs::path& folder) {
        std::vector<fs::path> files;
        if (fs::exists(folder))
            for (const auto& e : fs::directory_iterator(folder)) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        return files;
    }
    std::string Status() { return GetText(state.mainPanel, MAIN_STATUS); }
    // A save as the run makes it: the header gathered now, the camera's own
    // buffer handed over with the image size given.
    SaveResult SaveSeries(int naxis1, int naxis2, int naxis3, float exposure, int handle,
                          const std::string& start, const std::string& end, float elapsed,
                          const std::string& dir) {
        const CameraSlot camera = CameraSlotOfHandle(handle);
        ProductData<uint16_t> data = SeriesData(camera, naxis3);
        data.naxis1 = naxis1;
        data.naxis2 = naxis2;
        return SaveFits(GatherProductHeader(camera, exposure, start, end, elapsed), data, dir);
    }
    SaveResult SaveFlat(int naxis1, int naxis2, int naxis3, float exposure, int handle,
                        const std::string& start, const std::string& end, float elapsed,
                        const std::string& dir) {
        const CameraSlot camera = CameraSlotOfHandle(handle);
        ProductData<float> data = FlatData(camera, naxis3);
        data.naxis1 = naxis1;
        data.naxis2 = naxis2;
        return SaveFlatFits(GatherProductHeader(camera, exposure, start, end, elapsed), data, dir);
    }
    // Fills camera 1's raw buffer with a known pattern.
    void FillRaw(Buffer<uint16_t>& raw, size_t count) {
        raw.Allocate(count);
        for (size_t i = 0; i < count; ++i) raw.get()[i] = static_cast<uint16_t>(i * 331 + 7);
    }

    ui::HeadlessFrontEnd frontEnd;
    int obs = 0;
    fs::path root, previousDirectory;
};

TEST_F(ProductsTest, ObservationCubeReadsBackCardForCardAndPixelForPixel) {
    const std::string dir = DataFolder();
    FillRaw(state.g_pRawData, 8 * 6 * 2);
    state.g_pRawData.get()[5] = 40000;
    const std::vector<uint16_t> before(state.g_pRawData.get(), state.g_pRawData.get() + 96);
    state.ccd_HBin = 2;
    state.ccd_VBin = 2;
    state.ccd_Gain = 200;
    state.Scanner_status = kDeviceOn;
    state.scan_mode = 0;
    state.scan_duration = 270.0f;
    state.scan_size = 5.35f;
    SetText(obs, OBS_PAGE_OBSERVER, "K. Observer");
    ui::SetCtrlVal(obs, OBS_PAGE_TARGET, 3);
    SetText(obs, OBS_PAGE_ARNUMBER, "11158");
    ui::SetCtrlVal(obs, OBS_PAGE_TEL_X, -350);
    ui::SetCtrlVal(obs, OBS_PAGE_TEL_Y, 120);

    const SaveResult saved = SaveSeries(8, 6, 2, 0.1f, state.nCameraHandle1, "2010.08.12-03:15:02",
                                        "2010.08.12-03:15:09", 7.25f, dir);
    EXPECT_TRUE(saved.written);
    // The frames stay as they were taken.
    EXPECT_EQ(std::vector<uint16_t>(state.g_pRawData.get(), state.g_pRawData.get() + 96), before);
    EXPECT_NE(GetText(state.mainPanel, MAIN_SAVETIME).find(" Sec"), std::string::npos);

    const auto files = Files(Host());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0].filename().string(),
                                 std::regex(R"(PELU_\d{8}_\d{6}_A\.fts)")))
        << files[0];
    EXPECT_NE(Fitsverify(files[0].string()).find("verification OK"), std::string::npos)
        << Fitsverify(files[0].string());

    const json f = ReadWithAstropy(files[0].string());
    ASSERT_TRUE(f.contains("cards"));
    EXPECT_EQ(f["hdus"], 1);
    const std::vector<std::string> order = {
        "SIMPLE",   "BITPIX",   "NAXIS",    "NAXIS1",   "NAXIS2",   "NAXIS3",   "DATE",
        "EXPTIME",  "HBINNING", "VBINNING", "GAIN",     "STRTIME",  "ENDTIME",  "ELAPTIME",
        "PELUMODE", "STEPTIME", "STEPSIZE", "CCDTEMP",  "CCDNAME",  "WAVELEN",  "CCD_XPIX",
        "CCD_YPIX", "OBSERVER", "TARGET",   "ARNUMBER", "TEL_XPOS", "TEL_YPOS"};
    EXPECT_EQ(Keys(f), order);

    // keyword -> type, value, comment
    const std::vector<json> expected = {
        {"BITPIX", "int", 16, ""},
        {"NAXIS", "int", 3, ""},
        {"NAXIS1", "int", 8, ""},
        {"NAXIS2", "int", 6, ""},
        {"NAXIS3", "int", 2, ""},
        {"HBINNING", "int", 2, ""},
        {"VBINNING", "int", 2, ""},
        {"GAIN", "int", 200, "Value Range: 0-255"},
        {"STRTIME", "str", "2010.08.12-03:15:02", "Scan Start Time"},
        {"ENDTIME", "str", "2010.08.12-03:15:09", "Scan Finish Time"},
        {"ELAPTIME", "float", 7.25, "Elapse Time During Scanning(Second)"},
        {"PELUMODE", "str", "Spectrograph", "PELU Mode"},
        {"STEPTIME", "float", 270.0, "1 Step Duration time(millisecond)"},
        {"STEPSIZE", "float", 10.0, "1 step size to move scanner(micrometer)"},
        {"WAVELEN", "str", "6562.8", "CCD1 Wavenength(angstrom)"},
        {"CCD_XPIX", "int", 512, "Full Pixel Size of X"},
        {"CCD_YPIX", "int", 512, "Full Pixel Size of Y"},
        {"OBSERVER", "str", "K. Observer", "The Name of Main Observer"},
        {"TARGET", "str", "Active Region", "Observation Target"},
        {"ARNUMBER", "str", "11158", "Active Region Number"},
        {"TEL_XPOS", "int", -350, "X position of Telescope on the Sun"},
        {"TEL_YPOS", "int", 120, "Y position of Telescope on the Sun"},
    };
    for (const auto& e : expected) {
        const json card = Card(f, e[0]);
        ASSERT_FALSE(card.is_null()) << e[0];
        EXPECT_EQ(card[1], e[1]) << e[0];
        EXPECT_EQ(card[2], e[2]) << e[0];
        if (e[0] != "BITPIX" && e[0].get<std::string>().rfind("NAXIS", 0) != 0) {
            EXPECT_EQ(card[3], e[3]) << e[0];
        }
    }
    EXPECT_NEAR(Card(f, "EXPTIME")[2].get<double>(), 0.1, 1e-6);
    EXPECT_EQ(Card(f, "EXPTIME")[3], "Second");
    EXPECT_EQ(Card(f, "CCDTEMP")[1], "int");
    EXPECT_EQ(Card(f, "CCDTEMP")[3], "Cooling Temperature of CCD");
    EXPECT_EQ(Card(f, "CCDNAME")[1], "str");
    EXPECT_FALSE(Card(f, "CCDNAME")[2].get<std::string>().empty());
    EXPECT_EQ(Card(f, "CCDNAME")[3], "Productname of CCD");

    EXPECT_EQ(f["shape"], json({2, 6, 8}));
    EXPECT_EQ(f["dtype"], ">i2");
    ASSERT_EQ(f["pixels"].size(), 96u);
    for (size_t i = 0; i < 96; ++i)
        EXPECT_EQ(f["pixels"][i].get<int>(), static_cast<int16_t>(before[i])) << i;
    EXPECT_EQ(f["pixels"][5], -25536);
}

// A cube of several write chunks (swapped beside the writing) is the same
// file, byte for byte, as CFITSIO writes with its own pixel routine under
// the same header; the finished file has taken its reserved name and nothing
// is left beside it.
TEST_F(ProductsTest, ALargeCubeIsTheFileCfitsioWritesByteForByte) {
    const std::string dir = DataFolder();
    const int width = 301, height = 299, frames = 11;  // about 3.8 chunks, not a whole number
    const size_t count = size_t(width) * height * frames;
    FillRaw(state.g_pRawData, count);
    state.g_pRawData.get()[count - 1] = 65535;
    state.g_pRawData.get()[count / 2] = 40000;
    ASSERT_TRUE(
        SaveSeries(width, height, frames, 0.1f, state.nCameraHandle1, "a", "b", 1.0f, dir).written)
        << Status();
    const auto files = Files(Host());
    ASSERT_EQ(files.size(), 1u);
    for (const auto& entry : fs::directory_iterator(Host()))
        EXPECT_EQ(entry.path(), files[0]) << "left beside the series";

    // The reference: the same header, pixels through ffppx.
    const fs::path reference = root / "reference.fts";
    int status = 0;
    fitsfile* in = nullptr;
    fitsfile* out = nullptr;
    ASSERT_EQ(ffopen(&in, files[0].c_str(), READONLY, &status), 0);
    ASSERT_EQ(ffdkinit(&out, reference.c_str(), &status), 0);
    ASSERT_EQ(ffcphd(in, out, &status), 0);
    std::vector<int16_t> pixels(state.g_pRawData.get(), state.g_pRawData.get() + count);
    long first[3] = {1, 1, 1};
    ASSERT_EQ(ffppx(out, TSHORT, first, LONGLONG(count), pixels.data(), &status), 0);
    ffclos(out, &status);
    ffclos(in, &status);
    ASSERT_EQ(status, 0);
    auto bytes = [](const fs::path& path) {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    const std::string written = bytes(files[0]), expected = bytes(reference);
    EXPECT_GT(written.size(), count * sizeof(uint16_t));
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected) << "the files differ";
}

TEST_F(ProductsTest, FrameRecordsFollowThePrimaryHduAsATableThatCanBeTurnedOff) {
    const std::string dir = DataFolder();
    FillRaw(state.g_pRawData, 4 * 3 * 2);
    state.Scanner_status = kDeviceOn;
    state.scan_mode = 0;
    state.frames1.Start(2);
    FrameRecord r;
    r.camera = 1;
    r.width = 4;
    r.height = 3;
    r.read = true;
    r.index = 0;
    r.startUtcUs = 1281582902123456;  // 2010-08-12T03:15:02.123456
    r.endUtcUs = r.startUtcUs + 250000;
    r.scanStep = 1;
    r.positionRequested = 10.5f;
    r.positionEnded = 11.0f;
    state.frames1.Add(r);
    r.index = 1;
    r.startUtcUs += 1000000;
    r.endUtcUs += 1000000;
    r.scanStep = 2;
    r.late = true;
    r.retaken = true;
    r.read = false;
    state.frames1.Add(r);

    auto save = [&] {
        const CameraSlot camera = CameraSlotNumbered(1);
        ProductData<uint16_t> data = SeriesData(camera, 2);
        data.naxis1 = 4;
        data.naxis2 = 3;
        ProductHeader header = GatherProductHeader(camera, 0.1f, "a", "b", 0.0f);
        header.frames = SeriesRecords(camera, 2);
        return SaveFits(header, data, dir);
    };
    ASSERT_TRUE(save().written) << Status();
    auto files = Files(Host());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(Fitsverify(files[0].string()).find("verification OK"), std::string::npos)
        << Fitsverify(files[0].string());
    json f = ReadWithAstropy(files[0].string());
    ASSERT_TRUE(f.contains("table")) << f.dump();
    EXPECT_EQ(f["hdus"], 2);
    // The primary header on disk is the one without the table (astropy
    // reports an EXTEND card of its own once it sees an extension).
    {
        std::ifstream in(files[0], std::ios::binary);
        std::string primary(2880, '\0');
        in.read(primary.data(), 2880);
        EXPECT_EQ(primary.find("EXTEND"), std::string::npos);
    }
    EXPECT_EQ(Keys(f).back(), "TEL_YPOS");
    EXPECT_EQ(f["shape"], json({2, 3, 4}));
    const json& t = f["table"];
    EXPECT_EQ(t["name"], "FRAMES");
    EXPECT_EQ(t["columns"], json({"FRAME", "EXPSTART", "EXPTIME", "SCANSTEP", "POS_REQ", "POS_END",
                                  "LATE", "READ", "RETAKEN"}));
    EXPECT_EQ(t["units"][4], "um");
    ASSERT_EQ(t["rows"].size(), 2u);
    EXPECT_EQ(t["rows"][0],
              json({1, "2010-08-12T03:15:02.123456", 0.25, 1, 10.5, 11.0, false, true, false}));
    EXPECT_EQ(t["rows"][1][0], 2);
    EXPECT_EQ(t["rows"][1][1], "2010-08-12T03:15:03.123456");
    EXPECT_EQ(t["rows"][1][6], true);
    EXPECT_EQ(t["rows"][1][7], false) << "the camera did not deliver the second frame";
    EXPECT_EQ(t["rows"][1][8], true);

    // Turned off on the observation page: the primary HDU alone.
    fs::remove(files[0]);
    ui::SetCtrlVal(obs, OBS_PAGE_FRAMETABLE, 0);
    ASSERT_TRUE(save().written);
    files = Files(Host());
    ASSERT_EQ(files.size(), 1u);
    f = ReadWithAstropy(files[0].string());
    EXPECT_EQ(f["hdus"], 1);
    EXPECT_FALSE(f.contains("table"));
}

TEST_F(ProductsTest, SingleFrameOfCameraTwoWithoutScannerOrTarget) {
    const std::string dir = DataFolder();
    FillRaw(state.g_pRawData2, 5 * 4);
    state.Scanner_status = kDeviceOff;
    state.scan_mode = 0;  // not looked at with the scanner off
    ui::SetCtrlVal(obs, OBS_PAGE_TARGET, -1);
    SaveSeries(5, 4, 1, 0.5f, state.nCameraHandle2, "a", "b", 0.0f, dir);
    const auto files = Files(Host());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].string().find("_B.fts"), std::string::npos);
    EXPECT_NE(Fitsverify(files[0].string()).find("verification OK"), std::string::npos);
    const json f = ReadWithAstropy(files[0].string());
    ASSERT_TRUE(f.contains("cards"));
    EXPECT_EQ(Card(f, "NAXIS")[2], 2);
    EXPECT_TRUE(Card(f, "NAXIS3").is_null());
    EXPECT_TRUE(Card(f, "EXTEND").is_null());
    EXPECT_TRUE(Card(f, "COMMENT").is_null());
    EXPECT_EQ(Card(f, "PELUMODE")[2], "None(Only CCD)");
    EXPECT_TRUE(Card(f, "STEPTIME").is_null());
    EXPECT_EQ(Card(f, "WAVELEN")[2], "8542");
    EXPECT_EQ(Card(f, "WAVELEN")[3], "CCD2 Wavenength(angstrom)");
    EXPECT_EQ(Card(f, "CCD_XPIX")[2], 1004);
    EXPECT_EQ(Card(f, "CCD_YPIX")[2], 1002);
    EXPECT_EQ(Card(f, "TARGET")[2], "NONE");
    EXPECT_EQ(Card(f, "TARGET")[3], "NONE");
    EXPECT_TRUE(Card(f, "ARNUMBER").is_null());
    EXPECT_EQ(f["shape"], json({4, 5}));
    EXPECT_EQ(f["pixels"][19], static_cast<int16_t>(19 * 331 + 7));
}

// Mode cards by scanner state and scan mode, and target cards by selector.
TEST_F(ProductsTest, ModeAndTargetTables) {
    struct Case {
        int scanner, mode, target;
        std::string otherText;
        std::vector<std::string> present, absent;
        std::string peluMode, targetValue;
    };
    const std::vector<Case> cases = {
        {kDeviceOn, 1, 8, "comet", {"SCNSPEED", "SCANDIST"}, {"STEPTIME", "STEPSIZE"}, "Imaging", "comet"},
        {kDeviceOn, -1, 5, "", {}, {"STEPTIME", "SCNSPEED", "ARNUMBER"}, "None(Only CCD)", "Sunspot"},
        {kDeviceOn, 7, 0, "", {}, {"PELUMODE", "STEPTIME", "SCNSPEED"}, "", "Near Disk Center"},
        {kDeviceNeverOpened, 0, 7, "", {}, {"PELUMODE", "STEPTIME", "SCNSPEED"}, "", "Prominence"},
    };
    std::vector<std::string> dirs;
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const std::string dir = DataFolder("case" + std::to_string(i));
        FillRaw(state.g_pRawData, 4);
        state.Scanner_status = c.scanner;
        state.scan_mode = c.mode;
        state.scan_speed = 40.0f;
        state.scan_stroke = 2.5f;
        ui::SetCtrlVal(obs, OBS_PAGE_TARGET, c.target);
        SetText(obs, OBS_PAGE_OTHER_TARGET, c.otherText);
        SaveSeries(2, 2, 1, 0.1f, state.nCameraHandle1, "a", "b", 0.0f, dir);
        const auto files = Files(Host("case" + std::to_string(i)));
        ASSERT_EQ(files.size(), 1u) << i;
        const json f = ReadWithAstropy(files[0].string());
        ASSERT_TRUE(f.contains("cards")) << i;
        for (const auto& key : c.present) EXPECT_FALSE(Card(f, key).is_null()) << i << key;
        for (const auto& key : c.absent) EXPECT_TRUE(Card(f, key).is_null()) << i << key;
        if (!c.peluMode.empty()) {
            EXPECT_EQ(Card(f, "PELUMODE")[2], c.peluMode) << i;
        }
        if (!c.targetValue.empty()) {
            EXPECT_EQ(Card(f, "TARGET")[2], c.targetValue) << i;
        }
        if (c.mode == 1 && c.scanner == kDeviceOn) {
            EXPECT_EQ(Card(f, "SCNSPEED")[2], 40.0);
            EXPECT_EQ(Card(f, "SCANDIST")[2], 2.5);
        }
    }
}

TEST_F(ProductsTest, SecondSaveInTheSameSecondGetsItsOwnName) {
    const std::string dir = DataFolder();
    FillRaw(state.g_pRawData, 4);
    // The name the next save would take exists already.
    for (int i = 0; i < 3; ++i) SaveSeries(2, 2, 1, 0.1f, state.nCameraHandle1, "a", "b", 0.0f, dir);
    const auto files = Files(Host());
    // Three saves within one or two seconds: never fewer files than saves.
    ASSERT_EQ(files.size(), 3u);
    bool suffixed = false;
    for (const auto& file : files) {
        suffixed = suffixed || std::regex_match(file.filename().string(),
                                                std::regex(R"(PELU_\d{8}_\d{6}_A_\d\.fts)"));
        EXPECT_NE(Fitsverify(file.string()).find("verification OK"), std::string::npos) << file;
    }
    EXPECT_TRUE(suffixed);
    EXPECT_NE(Status().find("exists already: this series is written as"), std::string::npos)
        << Status();
}

TEST_F(ProductsTest, ProgramsSavingUnderOneNameAtOnceEachKeepTheirFile) {
    const std::string dir = DataFolder();
    const fs::path host = Host();
    const std::string name = "PELU_20100812_031502_A.fts";
    constexpr int kPrograms = 4, kSaves = 25;
    std::vector<pid_t> children;
    for (int p = 0; p < kPrograms; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // A program of its own: no status box, only CFITSIO and the disk.
            state.mainPanel = 0;
            int failures = 0;
            for (int i = 0; i < kSaves; ++i) {
                FitsOutput file;
                file.Create(dir, name);
                file.CreateImage(SHORT_IMG, 2, 2, 1);
                const uint16_t words[4] = {uint16_t(p), uint16_t(i), 7, 7};
                file.Words(words, 4);
                if (!file.Close()) ++failures;
            }
            ::_exit(failures);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "saves that failed in one program";
    }
    // Every save has a file of its own holding its own words.
    const auto files = Files(host);
    ASSERT_EQ(files.size(), size_t(kPrograms * kSaves));
    std::set<std::pair<int, int>> saves;
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        std::vector<unsigned char> bytes(std::istreambuf_iterator<char>(in), {});
        ASSERT_EQ(bytes.size(), 5760u) << file;
        saves.insert({bytes[2880] << 8 | bytes[2881], bytes[2882] << 8 | bytes[2883]});
    }
    EXPECT_EQ(saves.size(), size_t(kPrograms * kSaves));
}

TEST_F(ProductsTest, FailuresAreReportedWithCfitsioMessageAndNothingBreaks) {
    FillRaw(state.g_pRawData, 4);
    const SaveResult failed =
        SaveSeries(2, 2, 1, 0.1f, state.nCameraHandle1, "a", "b", 0.0f, "E:\\DRAV_Data\\missing");
    EXPECT_FALSE(failed.written);
    EXPECT_EQ(failed.path.rfind("E:\\DRAV_Data\\missing\\PELU_", 0), 0u) << failed.path;
    EXPECT_NE(Status().find("PELU_"), std::string::npos);
    EXPECT_NE(Status().find("cannot be created in"), std::string::npos) << Status();
    EXPECT_NE(GetText(state.mainPanel, MAIN_SAVETIME).find(" Sec"), std::string::npos);

    // A handle of neither camera and an empty image write nothing.
    const std::string dir = DataFolder();
    EXPECT_FALSE(SaveSeries(2, 2, 1, 0.1f, 4242, "a", "b", 0.0f, dir).written);
    EXPECT_FALSE(SaveSeries(2, 2, 0, 0.1f, state.nCameraHandle1, "a", "b", 0.0f, dir).written);
    EXPECT_TRUE(Files(Host()).empty());
    // A buffer smaller than the image asked for is not read past.
    EXPECT_FALSE(SaveSeries(20, 20, 3, 0.1f, state.nCameraHandle1, "a", "b", 0.0f, dir).written);
    EXPECT_NE(Status().find("no frames written"), std::string::npos) << Status();

    // The bias/dark frame stays in memory when its file cannot be written.
    state.BiasDark1.Allocate(4);
    state.BiasDark1.get()[0] = 77;
    const SaveResult biasDark = SaveBiasDark(2, 2, state.BiasDark1.get(), state.BiasDark1.size(), 1,
                                             BiasDarkHeader{}, "E:\\DRAV_Data\\missing");
    EXPECT_FALSE(biasDark.written);
    EXPECT_NE(Status().find("FITS file E:\\DRAV_Data\\missing\\PELU_"), std::string::npos)
        << Status();
    ASSERT_TRUE(state.BiasDark1);
    EXPECT_EQ(state.BiasDark1.get()[0], 77);
}

// Runs `save` in a program of its own (a child process) after `limit` has
// been set there: a file-size limit or another user. Returns what the
// child's status box showed, and in `written` what the save returned.
std::string SaveInChild(const std::function<void()>& limit, const std::function<bool()>& save,
                        bool* written) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return "no pipe";
    // The child inherits no thread: a lock the run-time's timer thread held
    // at the fork would stay locked in the child for good.
    ui::core::StopTimerThread();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        limit();
        const bool ok = save();
        std::string status;
        ui::GetCtrlVal(state.mainPanel, MAIN_STATUS, &status);
        const std::string out = (ok ? "1" : "0") + status;
        ssize_t ignored = ::write(pipeFds[1], out.data(), out.size());
        (void)ignored;
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string out;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], chunk, sizeof(chunk))) > 0) out.append(chunk, size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ui::core::StartTimerThread();
    if (out.empty()) return "the child said nothing";
    *written = out[0] == '1';
    return out.substr(1);
}

// No file may be left that looks like a product: neither a .fts nor the
// temporary file it is written as.
std::vector<std::string> LeftBehind(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    return names;
}

TEST_F(ProductsTest, AShortWriteOrAnUnwritableFolderLeavesNoFileAndNamesTheOneNotWritten) {
    const std::string dir = DataFolder();
    FillRaw(state.g_pRawData, 64 * 64 * 20);
    // The disk takes 20000 bytes of the file and no more (as a full disk does).
    auto fileSizeLimit = [] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 20000;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    bool written = true;
    std::string status = SaveInChild(
        fileSizeLimit,
        [&] {
            return SaveSeries(64, 64, 20, 0.1f, state.nCameraHandle1, "a", "b", 0.0f, dir).written;
        },
        &written);
    EXPECT_FALSE(written);
    EXPECT_TRUE(std::regex_search(
        status, std::regex(R"(FITS file E:\\DRAV_Data\\obs\\PELU_\d{8}_\d{6}_A\.fts: .* failed)")))
        << status;
    EXPECT_TRUE(LeftBehind(Host()).empty()) << LeftBehind(Host())[0];

    // The bias/dark writer says the same and keeps its frame.
    written = true;
    state.BiasDark1.Allocate(400 * 400);
    status = SaveInChild(
        fileSizeLimit,
        [&] {
            return SaveBiasDark(400, 400, state.BiasDark1.get(), state.BiasDark1.size(), 1,
                                BiasDarkHeader{}, dir)
                .written;
        },
        &written);
    EXPECT_FALSE(written);
    EXPECT_TRUE(std::regex_search(
        status,
        std::regex(
            R"(FITS file E:\\DRAV_Data\\obs\\PELU_\d{8}_\d{6}_A_BiasDark\.fts: .* failed)")))
        << status;
    EXPECT_TRUE(LeftBehind(Host()).empty());

    // A folder the program may not write into.
    fs::permissions(Host(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    auto anotherUser = [] {
        // The superuser writes anywhere: the save runs as nobody.
        if (::geteuid() == 0 && ::setegid(65534) != 0) ::_exit(2);
        if (::geteuid() == 0 && ::seteuid(65534) != 0) ::_exit(2);
    };
    written = true;
    status = SaveInChild(
        anotherUser,
        [&] {
            return SaveSeries(64, 64, 2, 0.1f, state.nCameraHandle1, "a", "b", 0.0f, dir).written;
        },
        &written);
    EXPECT_FALSE(written);
    EXPECT_TRUE(std::regex_search(
        status,
        std::regex(
            R"(FITS file E:\\DRAV_Data\\obs\\PELU_\d{8}_\d{6}_A\.fts not written: it cannot be created in .*obs \(Permission denied\))")))
        << status;
    EXPECT_TRUE(LeftBehind(Host()).empty());
    fs::permissions(Host(), fs::perms::owner_all);
    // The same save where the disk has room writes the whole file, and nothing else.
    EXPECT_TRUE(SaveSeries(64, 64, 20, 0.1f, state.nCameraHandle1, "a", "b", 0.0f, dir).written);
    ASSERT_EQ(LeftBehind(Host()).size(), 1u);
    EXPECT_EQ(fs::file_size(Host() / LeftBehind(Host())[0]) % 2880, 0u);
}

TEST_F(ProductsTest, FlatCubeIsFloatWithItsCommentsAndReleasesItsBuffers) {
    const std::string dir = DataFolder("cal");
    const size_t plane = 4 * 3;
    state.flatcube1.Allocate(7 * plane);
    state.flatdata1.Allocate(plane);
    for (size_t i = 0; i < 7 * plane; ++i) state.flatcube1.get()[i] = 0.5f + float(i);
    FillRaw(state.g_pRawData, 4);
    state.g_nFrameNumber1 = 5;
    state.Scanner_status = kDeviceOn;
    state.scan_mode = 0;
    EXPECT_TRUE(SaveFlat(4, 3, 7, 0.2f, state.nCameraHandle1, "s", "e", 1.0f, dir).written);
    // The writer only reads the planes; the run releases them once saved.
    EXPECT_TRUE(state.flatcube1);
    EXPECT_TRUE(state.flatdata1);
    ASSERT_TRUE(state.g_pRawData);
    EXPECT_EQ(state.g_pRawData.get()[1], 338);

    const auto files = Files(Host("cal"));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].string().find("_A_Flat.fts"), std::string::npos);
    EXPECT_NE(Fitsverify(files[0].string()).find("verification OK"), std::string::npos)
        << Fitsverify(files[0].string());
    const json f = ReadWithAstropy(files[0].string());
    ASSERT_TRUE(f.contains("cards"));
    const std::vector<std::string> order = {
        "SIMPLE",  "BITPIX",  "NAXIS",    "NAXIS1",  "NAXIS2",  "NAXIS3",   "DATE",
        "EXPTIME", "HBINNING", "VBINNING", "GAIN",   "STRTIME", "ENDTIME",  "ELAPTIME",
        "CCDTEMP", "CCDNAME", "WAVELEN",  "CCD_XPIX", "CCD_YPIX", "COMMENT", "COMMENT"};
    EXPECT_EQ(Keys(f), order);
    EXPECT_EQ(Card(f, "BITPIX")[2], -32);
    EXPECT_EQ(Card(f, "NAXIS3")[2], 7);
    EXPECT_EQ(f["cards"][19][2], "BiasDark Subtracted");
    EXPECT_EQ(f["cards"][20][2], "averaged image : 5 at each grating angle");
    EXPECT_EQ(f["dtype"], ">f4");
    EXPECT_EQ(f["pixels"][83], 83.5);
}

TEST_F(ProductsTest, ABiasDarkFileThatCannotBeSavedIsOfferedAnotherFolder) {
    state.ccd_HBin = state.ccd_VBin = 4;
    SetCurrentCamera(state.nCameraHandle1);
    const fs::path elsewhere = root / "elsewhere";
    fs::create_directories(elsewhere);
    frontEnd.QueueFileAnswer(elsewhere.string());
    TakeBiasDark(0, 4, 4, 0.01f, state.nCameraHandle1, "E:\\DRAV_Data\\gone");
    ASSERT_TRUE(state.BiasDark1);
    const auto popups = frontEnd.Popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].kind, ui::PopupRecord::Kind::Folder);
    EXPECT_NE(popups[0].title.find("The bias/dark frame of camera 1 was not saved"),
              std::string::npos);
    const auto files = Files(elsewhere);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].filename().string().find("_A_BiasDark.fts"), std::string::npos);
    EXPECT_NE(Fitsverify(files[0].string()).find("verification OK"), std::string::npos);
    EXPECT_EQ(GetText(state.mainPanel, MAIN_WARN_SAVES), "1");

    // Cancelled: the frame stays in memory, and the observer is told so.
    TakeBiasDark(0, 4, 4, 0.01f, state.nCameraHandle1, "E:\\DRAV_Data\\gone");
    ASSERT_TRUE(state.BiasDark1);
    EXPECT_NE(Status().find("The bias/dark frame of camera 1 stays in memory for this run only."),
              std::string::npos)
        << Status();
}

TEST_F(ProductsTest, BiasDarkSeriesIsTakenAveragedAndSaved) {
    const std::string dir = DataFolder();
    state.ccd_HBin = 4;
    state.ccd_VBin = 4;
    state.ccd_Gain = 10;
    SetCurrentCamera(state.nCameraHandle2);
    camsim::ClearTrace();
    TakeBiasDark(10, 4, 4, 0.01f, state.nCameraHandle2, dir);
    // The wide sensor is read with twice the binning and without its last two rows.
    EXPECT_EQ(state.nhDim2, (1004 / 4) / 2);
    EXPECT_EQ(state.nvDim2, (1000 / 4) / 2);
    ASSERT_TRUE(state.BiasDark2);
    EXPECT_EQ(state.BiasDark2.size(), size_t(125 * 125));
    EXPECT_EQ(state.DataSource, 1);

    const std::vector<std::string> expected = {
        "SetAcquisitionMode(6)", "SetFrameTransferMode(1)", "SetNumberKinetics(100)",
        "SetReadMode(4)",        "SetVSSpeed(3)",           "SetADChannel(0)",
        "SetHSSpeed(0, 0)",      "SetShutter(1, 2, 1, 1)",  "SetFanMode(0)",
        "SetPreAmpGain(2)",      "SetEMCCDGain(10)",        "SetImage(8, 8, 1, 1004, 1, 1000)",
        "SetTriggerMode(0)"};
    const auto trace = camsim::TraceTexts(state.nCameraHandle2);
    ASSERT_GE(trace.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(trace.begin(), trace.begin() + expected.size()), expected);
    EXPECT_NE(Status().find("setting exposute time is 0.010000"), std::string::npos);

    const auto files = Files(Host());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].string().find("_B_BiasDark.fts"), std::string::npos);
    EXPECT_NE(Fitsverify(files[0].string()).find("verification OK"), std::string::npos)
        << Fitsverify(files[0].string());
    const json f = ReadWithAstropy(files[0].string());
    ASSERT_TRUE(f.contains("cards"));
    const std::vector<std::string> order = {"SIMPLE",   "BITPIX",   "NAXIS", "NAXIS1",
                                            "NAXIS2",   "EXTEND",   "DATE",  "EXPTIME",
                                            "HBINNING", "VBINNING", "GAIN",  "CCDTEMP",
                                            "CCDNAME"};
    EXPECT_EQ(Keys(f), order);
    EXPECT_EQ(Card(f, "GAIN")[2], 10);
    EXPECT_EQ(f["shape"], json({125, 125}));
    for (size_t i = 0; i < state.BiasDark2.size(); i += 997)
        EXPECT_EQ(f["pixels"][i].get<int>(), static_cast<int16_t>(state.BiasDark2.get()[i])) << i;
    // A time line follows the save.
    EXPECT_TRUE(std::regex_search(Status(), std::regex(R"(\d+\.\d{3} Sec)")));
}

TEST_F(ProductsTest, BiasDarkStopsOnAFailedStartOrAHungCamera) {
    const std::string dir = DataFolder();
    camsim::AddFault({"StartAcquisition", 0, DRV_ERROR_ACK, 0});
    SetCurrentCamera(state.nCameraHandle1);
    TakeBiasDark(0, 1, 1, 0.01f, state.nCameraHandle1, dir);
    auto popups = frontEnd.Popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].title, "Error");
    EXPECT_EQ(popups[0].text, "Start acquisition error");
    EXPECT_TRUE(Files(Host()).empty());

    camsim::Config hung;
    hung.hangAcquisition = true;
    camsim::Reset(hung);
    OpenCameras();
    frontEnd.ClearPopups();
    SetCurrentCamera(state.nCameraHandle1);
    TakeBiasDark(0, 4, 4, 0.01f, state.nCameraHandle1, dir);
    popups = frontEnd.Popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_NE(popups[0].text.find("did not finish"), std::string::npos);
    EXPECT_TRUE(Files(Host()).empty());
}

TEST_F(ProductsTest, DataDirectoryByTargetAndCameraMode) {
    const os::UtcTime now = os::UtcNow();
    const std::string day = Format("E:\\DRAV_Data\\%.2d%.2d%.2d", now.year, now.month, now.day);
    auto batch = [&] {
        std::ifstream in(root / "makefolder.bat", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    auto hostOf = [&](const std::string& logical) { return fs::path(os::HostPath(logical)); };

    ui::SetCtrlVal(obs, OBS_PAGE_TARGET, 5);
    EXPECT_TRUE(BuildDataDirectory());
    EXPECT_EQ(state.entire_directory, day + "\\raw\\sunspot");
    EXPECT_EQ(batch(), "mkdir \"" + day + "\\raw\\sunspot\"");
    EXPECT_TRUE(fs::is_directory(hostOf(state.entire_directory)));
    // OK twice: the same path, not a doubled one.
    EXPECT_TRUE(BuildDataDirectory());
    EXPECT_EQ(state.entire_directory, day + "\\raw\\sunspot");

    state.ccd_camera = kFlatFielding;
    EXPECT_TRUE(BuildDataDirectory());
    EXPECT_EQ(state.entire_directory, day + "\\cal");
    state.ccd_camera = kCameraOne;

    ui::SetCtrlVal(obs, OBS_PAGE_TARGET, -1);
    EXPECT_TRUE(BuildDataDirectory());
    EXPECT_EQ(state.entire_directory, day);

    ui::SetCtrlVal(obs, OBS_PAGE_TARGET, 8);
    SetText(obs, OBS_PAGE_OTHER_TARGET, "comet");
    EXPECT_TRUE(BuildDataDirectory());
    EXPECT_EQ(state.entire_directory, day + "\\raw\\comet");
    SetText(obs, OBS_PAGE_OTHER_TARGET, "Comet West");
    EXPECT_TRUE(BuildDataDirectory());
    EXPECT_TRUE(fs::is_directory(hostOf(day + "\\raw\\Comet West")));
    EXPECT_EQ(batch(), "mkdir \"" + day + "\\raw\\Comet West\"");
    // The batch line made the one folder: no "Comet" in raw, no "West" in
    // the working folder.
    ASSERT_TRUE(os::LaunchBatchFile("makefolder.bat"));
    EXPECT_FALSE(fs::exists(hostOf(day + "\\raw\\Comet")));
    EXPECT_FALSE(fs::exists(hostOf("West")));
    EXPECT_TRUE(frontEnd.Popups().empty());

    // A name that would leave its folder is refused; files go to the day folder.
    for (const std::string& bad : std::vector<std::string>{"..\\..\\etc", "a/b", "", "C:\\x", std::string(300, 'x')}) {
        frontEnd.ClearPopups();
        SetText(obs, OBS_PAGE_OTHER_TARGET, bad);
        EXPECT_FALSE(BuildDataDirectory()) << bad;
        EXPECT_EQ(state.entire_directory, day) << bad;
        ASSERT_EQ(frontEnd.Popups().size(), 1u) << bad;
        EXPECT_EQ(frontEnd.Popups()[0].title, "Error");
    }
    EXPECT_FALSE(fs::exists(root / "drive_E" / "etc"));
    EXPECT_FALSE(fs::exists(hostOf(day + "\\raw\\a")));
}

TEST_F(ProductsTest, TargetRingEnablesOnlyItsTextField) {
    auto dimmed = [&](int control) {
        int value = -1;
        ui::GetCtrlAttribute(obs, control, ui::ATTR_DIMMED, &value);
        return value;
    };
    for (int target : {3, 8, 0}) {
        ui::SetCtrlVal(obs, OBS_PAGE_TARGET, target);
        make_foldert_arget(obs, OBS_PAGE_TARGET, ui::EVENT_COMMIT, nullptr, 0, 0);
        EXPECT_EQ(dimmed(OBS_PAGE_ARNUMBER), target == 3 ? 0 : 1) << target;
        EXPECT_EQ(dimmed(OBS_PAGE_OTHER_TARGET), target == 8 ? 0 : 1) << target;
    }
    // Other events change nothing.
    ui::SetCtrlVal(obs, OBS_PAGE_TARGET, 8);
    make_foldert_arget(obs, OBS_PAGE_TARGET, 2, nullptr, 0, 0);
    EXPECT_EQ(dimmed(OBS_PAGE_OTHER_TARGET), 1);
}

}  // namespace
}  // namespace pelu
