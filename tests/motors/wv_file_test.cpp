// Reading and writing Wv.ini, including files that are damaged or lie about
// their length.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "motors/wv_file.h"
#include "platform/ui/frontend.h"
#include "platform/ui/headless.h"
#include "platform/ui/ui.h"

namespace pelu {
namespace {

namespace fs = std::filesystem;

std::vector<char> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// A header as a writer would lay it out, with free text in the slots.
std::vector<char> Header(const std::vector<std::string>& slots) {
    std::vector<char> header(kWvHeaderSize, '\0');
    for (size_t i = 0; i < slots.size(); ++i)
        std::memcpy(header.data() + kWvSlotSize * i, slots[i].data(),
                    std::min<size_t>(slots[i].size(), kWvSlotSize));
    return header;
}

WvRecord Record(float wavelength, int order, int step, double angle) {
    WvRecord r;
    r.wavelength = wavelength;
    r.order = order;
    r.step = step;
    r.angle = angle;
    return r;
}

class WvFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::ResetRuntime();
        ui::InitRuntime();
        ui::SetFrontEnd(&frontEnd);
        ResetWavelengthTable();
        dir = fs::temp_directory_path() /
              ("pelu-wv-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = (dir / "Wv.ini").string();
    }
    void TearDown() override {
        ui::SetFrontEnd(nullptr);
        ui::ResetRuntime();
        ResetWavelengthTable();
        fs::remove_all(dir);
    }
    void FillThree() {
        wvTable.Data[0] = Record(6562.8f, 34, 100000, 61.8098);
        wvTable.Data[1] = Record(8542.0f, 26, 99097, 61.3140);
        wvTable.Data[2] = Record(10830.0f, 20, 94562, 58.8228);
        wvTable.Data[1].reserved = {0xDE, 0xAD, 0xBE, 0xEF};
        wvTable.nWV_FileIO = 3;
        wvTable.CurrentSelectWV_FileIO = 1;
    }
    std::vector<std::string> PopupTexts() {
        std::vector<std::string> texts;
        for (const auto& p : frontEnd.Popups()) texts.push_back(p.title + "|" + p.text);
        return texts;
    }

    ui::HeadlessFrontEnd frontEnd;
    fs::path dir;
    std::string path;
};

TEST_F(WvFileTest, ThreeEntriesMakeA2072ByteFileThatReadsBackExactly) {
    FillThree();
    ASSERT_EQ(WriteFileF(kLintabWriteFailure, path), 1);
    const std::vector<char> bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), 2072u);
    EXPECT_STREQ(bytes.data(), "NUMBER OF WV    = 3");
    EXPECT_STREQ(bytes.data() + 100, "CURRENT_SELECT  = 1");
    // Everything else in the header is zero.
    for (size_t i = 0; i < 2000; ++i)
        if ((i < 19) || (i >= 100 && i < 119)) continue;
        else ASSERT_EQ(bytes[i], 0) << "header byte " << i;
    // Record 1, little-endian: step 99097 = 0x00018319 at offset 2024 + 8.
    const unsigned char* r1 = reinterpret_cast<const unsigned char*>(bytes.data()) + 2024;
    EXPECT_EQ(r1[4], 26);
    EXPECT_EQ(r1[8], 0x19);
    EXPECT_EQ(r1[9], 0x83);
    EXPECT_EQ(r1[10], 0x01);
    EXPECT_EQ(r1[12], 0xDE);
    EXPECT_EQ(r1[15], 0xEF);

    const WavelengthTable written = wvTable;
    ResetWavelengthTable();
    ASSERT_EQ(OpenFileF(path), 1);
    EXPECT_EQ(wvTable.nWV_FileIO, 3);
    EXPECT_EQ(wvTable.CurrentSelectWV_FileIO, 1);
    for (int i = 0; i < 3; ++i) {
        const WvRecord& a = written.Data[i];
        const WvRecord& b = wvTable.Data[i];
        EXPECT_EQ(a.wavelength, b.wavelength);
        EXPECT_EQ(a.order, b.order);
        EXPECT_EQ(a.step, b.step);
        EXPECT_EQ(a.reserved, b.reserved);
        EXPECT_EQ(a.angle, b.angle);
    }
    EXPECT_TRUE(frontEnd.Popups().empty());
}

TEST_F(WvFileTest, HeaderKeysThatAreMissingOrNotNumbersLeaveTheirValuesAsTheyWere) {
    std::vector<char> file = Header({"STARTING POS    = 0", "NUMBER OF WV    = 1"});
    const WvRecord r = Record(5000.0f, 40, 123, 1.5);
    wvTable.Data[0] = r;
    wvTable.nWV_FileIO = 1;
    ASSERT_EQ(WriteFileF(kLintabWriteFailure, path), 1);
    const std::vector<char> written = ReadBytes(path);
    file.insert(file.end(), written.begin() + 2000, written.end());
    WriteBytes(path, file);

    ResetWavelengthTable();
    wvTable.CurrentSelectWV_FileIO = 7;
    ASSERT_EQ(OpenFileF(path), 1);
    EXPECT_EQ(wvTable.nWV_FileIO, 1);  // found in slot 1, not where it is written
    EXPECT_EQ(wvTable.CurrentSelectWV_FileIO, 7);
    EXPECT_EQ(wvTable.Data[0].step, 123);

    // Keys must match all 17 characters; a value that is no number is ignored.
    WriteBytes(path, Header({"NUMBER OF WV   = 5", "CURRENT_SELECT  = x",
                             "CURRENT_SELECT  = 99999999999"}));
    ASSERT_EQ(OpenFileF(path), 1);
    EXPECT_EQ(wvTable.CurrentSelectWV_FileIO, 7);
}

TEST_F(WvFileTest, CountsBeyondTheTableOrTheFileNeverLeaveGarbageRows) {
    // 60 records on disk, 60 claimed: the table takes 50 and says so.
    std::vector<char> file = Header({"NUMBER OF WV    = 60", "CURRENT_SELECT  = 2"});
    for (int i = 0; i < 60; ++i) {
        wvTable.Data[0] = Record(4000.0f + float(i), 30, i, 0.0);
        wvTable.nWV_FileIO = 1;
        ASSERT_EQ(WriteFileF(kLintabWriteFailure, path), 1);
        const std::vector<char> bytes = ReadBytes(path);
        file.insert(file.end(), bytes.begin() + 2000, bytes.end());
    }
    WriteBytes(path, file);
    ResetWavelengthTable();
    ASSERT_EQ(OpenFileF(path), 1);
    EXPECT_EQ(wvTable.nWV_FileIO, 50);
    EXPECT_EQ(wvTable.Data[49].step, 49);
    ASSERT_EQ(frontEnd.Popups().size(), 1u);
    EXPECT_EQ(PopupTexts()[0], "Error|Wv.ini lists 60 wavelengths; only the first 50 are read.");

    // Truncated in the middle of its fourth record: three rows, the rest of
    // the table untouched but not counted.
    frontEnd.ClearPopups();
    file.resize(2000 + 3 * 24 + 10);
    const std::string claim = "NUMBER OF WV    = 5";
    std::memcpy(file.data(), claim.c_str(), claim.size() + 1);
    WriteBytes(path, file);
    ASSERT_EQ(OpenFileF(path), 1);
    EXPECT_EQ(wvTable.nWV_FileIO, 3);
    EXPECT_EQ(wvTable.Data[3].step, 3);  // the previous contents beyond the count
    ASSERT_EQ(frontEnd.Popups().size(), 1u);
    EXPECT_NE(PopupTexts()[0].find("ends after 3 of its 5"), std::string::npos);

    // A header cut short: no records at all, whatever the count said.
    file.resize(150);
    WriteBytes(path, file);
    ASSERT_EQ(OpenFileF(path), 1);
    EXPECT_EQ(wvTable.nWV_FileIO, 0);

    // A negative count reads nothing.
    WriteBytes(path, Header({"NUMBER OF WV    = -4"}));
    ASSERT_EQ(OpenFileF(path), 1);
    EXPECT_EQ(wvTable.nWV_FileIO, 0);

    // A count above the table is never written either.
    wvTable.nWV_FileIO = 500;
    ASSERT_EQ(WriteFileF(kLintabWriteFailure, path), 1);
    EXPECT_EQ(ReadBytes(path).size(), 2000u + 50 * 24);
}

TEST_F(WvFileTest, MissingOrUnwritableFilesSayWhichProgramFailed) {
    FillThree();
    EXPECT_EQ(OpenFileF((dir / "absent.ini").string()), 0);
    EXPECT_EQ(wvTable.nWV_FileIO, 3);  // kept
    EXPECT_EQ(WriteFileF(kLintabWriteFailure, (dir / "no" / "Wv.ini").string()), 0);
    EXPECT_EQ(WriteFileF(kAcquisitionWriteFailure, (dir / "no" / "Wv.ini").string()), 0);
    const auto texts = PopupTexts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "Error|Cannot open file Wv.ini");
    EXPECT_EQ(texts[1], "Error|Cannot open file Wv.ini");
    EXPECT_EQ(texts[2], "info|Fail to write file\n");
}

TEST_F(WvFileTest, ListingIsWrittenBesideWvIniAndNeverReplacesIt) {
    FillThree();
    wvTable.CurrentSelectWV_FileIO = 2;
    ASSERT_EQ(WriteFileF(kAcquisitionWriteFailure, path), 1);
    ASSERT_EQ(WriteWvListing(path), 1);
    EXPECT_EQ(WvListingPath(path), (dir / "Wv_list.txt").string());
    EXPECT_EQ(WvListingPath("Wv.ini"), "Wv_list.txt");
    EXPECT_EQ(WvListingPath(".\\Wv.ini"), ".\\Wv_list.txt");
    const std::vector<char> listing = ReadBytes(dir / "Wv_list.txt");
    EXPECT_EQ(std::string(listing.begin(), listing.end()),
              "NUMBER OF WV    = 3\r\n"
              "CURRENT_SELECT  = 2\r\n"
              "STARTING POS    = 0\r\n"
              "                     \r\n"
              "No  Wave     Pos   Angle\r\n"
              " 1  6562.80  100000  61.81\r\n"
              " 2  8542.00  99097  61.31\r\n"
              " 3  10830.00  94562  58.82\r\n");
    EXPECT_EQ(ReadBytes(path).size(), 2072u);  // Wv.ini keeps its binary layout
}

TEST_F(WvFileTest, ShippedExampleHoldsTheObservingLines) {
    const fs::path shipped = fs::path(PELU_SOURCE_DIR) / "resources" / "site" / "Wv.ini";
    ASSERT_EQ(OpenFileF(shipped.string()), 1);
    ASSERT_GE(wvTable.nWV_FileIO, 2);
    EXPECT_EQ(fs::file_size(shipped), 2000u + 24u * unsigned(wvTable.nWV_FileIO));
    bool halpha = false, calcium = false;
    for (int i = 0; i < wvTable.nWV_FileIO; ++i) {
        const WvRecord& r = wvTable.Data[i];
        if (r.wavelength == 6562.8f && r.order == 34) halpha = true;
        if (r.wavelength == 8542.0f) calcium = true;
        // Every entry lies inside the grating's travel between its switches.
        EXPECT_GT(r.step, -60000) << i;
        EXPECT_LT(r.step, 600000) << i;
    }
    EXPECT_TRUE(halpha);
    EXPECT_TRUE(calcium);
    EXPECT_TRUE(frontEnd.Popups().empty());
}

}  // namespace
}  // namespace pelu
