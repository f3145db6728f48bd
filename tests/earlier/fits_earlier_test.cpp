// The one-camera program's FITS writer and reader, checked byte by byte and
// by readers nobody here wrote (fitsverify, astropy).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <numeric>

#include "earlier/fits_earlier.h"
#include "tests/earlier/earlier_fixture.h"

namespace pelu::earlier {
namespace {

using testing::ReadBytes;
using testing::Shell;
using testing::WriteBytes;

const os::UtcTime kTime{2009, 8, 12, 3, 15, 0, 0};

std::string Card(const std::vector<unsigned char>& file, int offset) {
    return std::string(file.begin() + offset, file.begin() + offset + kFitsCard);
}

class FitsEarlierTest : public testing::EarlierTest {};

TEST_F(FitsEarlierTest, NameCarriesUtcTimeAndCameraSuffix) {
    state.nCameraHandle1 = 100;
    state.nCameraHandle2 = 101;
    EXPECT_EQ(FitsFileName(kTime, 100), "PELU_20090812_031500_QEL.fts");
    EXPECT_EQ(FitsFileName(kTime, 101), "PELU_20090812_031500_VOR.fts");
    EXPECT_EQ(FitsFileName(kTime, 7), "PELU_20090812_031500.fts");
}

TEST_F(FitsEarlierTest, SingleFrameHeaderDataAndPadding) {
    const uint16_t samples[8] = {0, 65535, 1, 32768, 2, 3, 4, 5};
    const std::string path = Path("one.fts");
    ASSERT_TRUE(WriteFitsFile(path, 4, 2, 1, samples, 0.1f, 100, kTime));
    const auto file = ReadBytes(path);
    ASSERT_EQ(file.size(), 2u * kFitsBlock);  // header + 16 bytes padded to a block

    EXPECT_EQ(Card(file, 0).substr(0, 30), "SIMPLE  =                    T");
    EXPECT_EQ(Card(file, 80).substr(0, 30), "BITPIX  =                   16");
    EXPECT_EQ(Card(file, 160).substr(0, 30), "NAXIS   =                    2");
    EXPECT_EQ(Card(file, 240).substr(0, 30), "NAXIS1  =                    4");
    EXPECT_EQ(Card(file, 320).substr(0, 30), "NAXIS2  =                    2");
    EXPECT_EQ(Card(file, 400), std::string(80, ' '));  // no NAXIS3 beyond NAXIS
    EXPECT_EQ(Card(file, 480).substr(0, 31), "DATE    = '2009-08-12T03:15:00'");
    EXPECT_EQ(Card(file, 560).substr(0, 30), "BZERO   =              32768.0");
    EXPECT_EQ(Card(file, 720).substr(0, 30), "EXPTIME =                0.100");
    EXPECT_EQ(Card(file, 800).substr(0, 20), "TELE    = 'KORVAN  '");
    EXPECT_EQ(Card(file, 880).substr(0, 29), "INST    = 'PELU Spectrograph'");
    EXPECT_EQ(Card(file, 960).substr(0, 30), "CAMERANO=                  100");
    EXPECT_EQ(Card(file, 1040), "END" + std::string(77, ' '));
    for (int i = 1120; i < kFitsBlock; ++i) ASSERT_EQ(file[i], ' ') << "header byte " << i;

    // s - 32768, high byte first.
    const unsigned char expected[] = {0x80, 0x00, 0x7F, 0xFF, 0x80, 0x01, 0x00, 0x00};
    EXPECT_EQ(0, std::memcmp(file.data() + kFitsBlock, expected, sizeof expected));
    for (size_t i = kFitsBlock + 16; i < file.size(); ++i) ASSERT_EQ(file[i], 0) << i;
}

TEST_F(FitsEarlierTest, CubeHasNaxis3AndReadsBackEverySample) {
    const int w = 37, h = 11, frames = 3;
    std::vector<uint16_t> samples(w * h * frames);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(i * 977 + 13);
    samples[5] = 0;
    samples[6] = 65535;
    const std::string path = Path("cube.fts");
    ASSERT_TRUE(WriteFitsFile(path, w, h, frames, samples.data(), 2.5f, 1, kTime));
    const auto file = ReadBytes(path);
    EXPECT_EQ(file.size() % kFitsBlock, 0u);
    EXPECT_EQ(Card(file, 160).substr(0, 30), "NAXIS   =                    3");
    EXPECT_EQ(Card(file, 400).substr(0, 30), "NAXIS3  =                    3");

    auto image = ReadFits(path);
    ASSERT_TRUE(image) << LastPopupText();
    EXPECT_EQ(image->keys.NAXIS, 3);
    EXPECT_EQ(image->keys.NAXIS1, w);
    EXPECT_EQ(image->keys.NAXIS2, h);
    EXPECT_EQ(image->frames, frames);
    EXPECT_EQ(image->samples, samples);
    EXPECT_TRUE(Popups().empty());
}

TEST_F(FitsEarlierTest, SaveFitsWritesIntoWorkingDirectory) {
    state.nCameraHandle1 = 100;
    state.nCameraHandle2 = 101;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    const uint16_t samples[4] = {1, 2, 3, 4};
    EXPECT_EQ(SaveFits(2, 2, 1, samples, 0.5f, 101), 1);
    std::filesystem::current_path(cwd);
    int found = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.substr(0, 5), "PELU_");
        EXPECT_EQ(name.substr(name.size() - 8), "_VOR.fts");
        ++found;
    }
    EXPECT_EQ(found, 1);
}

TEST_F(FitsEarlierTest, UnwritablePlaceWritesNothingAndStillReturnsOne) {
    const uint16_t samples[4] = {1, 2, 3, 4};
    EXPECT_FALSE(WriteFitsFile(Path("no/such/folder/x.fts"), 2, 2, 1, samples, 1.0f, 1, kTime));
    EXPECT_FALSE(std::filesystem::exists(Path("no/such/folder/x.fts")));
    EXPECT_TRUE(Popups().empty());
}

TEST_F(FitsEarlierTest, IndependentReadersAcceptOurFiles) {
    if (Shell("command -v fitsverify").empty()) GTEST_SKIP() << "fitsverify is not installed";
    const int w = 5, h = 3, frames = 4;
    std::vector<uint16_t> samples(w * h * frames);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(i * 4099);
    samples.back() = 65535;
    ASSERT_TRUE(WriteFitsFile(Path("cube.fts"), w, h, frames, samples.data(), 1.0f, 1, kTime));
    ASSERT_TRUE(WriteFitsFile(Path("one.fts"), w, h, 1, samples.data(), 1.0f, 1, kTime));
    for (const char* name : {"cube.fts", "one.fts"}) {
        const std::string report = Shell("fitsverify " + Path(name) + " 2>&1");
        EXPECT_NE(report.find("Verification found 0 warning(s) and 0 error(s)"),
                  std::string::npos)
            << report;
    }
    // astropy applies BZERO itself: the data must come back as the camera's samples.
    const std::string script =
        "import sys, numpy; from astropy.io import fits\n"
        "d = fits.getdata(sys.argv[1]); print(d.dtype, d.shape, ' '.join(str(int(v)) for v in "
        "d.ravel()))\n";
    const std::string out =
        Shell("/usr/bin/python3 -c \"" + script + "\" " + Path("cube.fts") + " 2>&1");
    std::string expected = "uint16 (4, 3, 5)";
    for (uint16_t s : samples) expected += " " + std::to_string(s);
    EXPECT_EQ(out, expected + "\n");
}

TEST_F(FitsEarlierTest, ReadsUnpaddedFilesOfTheFirstWriter) {
    // As the first version wrote them: free-format values, NAXIS3 also for a
    // single frame, no padding after the data.
    std::string header;
    for (const char* card : {"SIMPLE  = T", "BITPIX  = 16", "NAXIS   = 2", "NAXIS1  = 4",
                             "NAXIS2  = 2", "NAXIS3  = 1", "DATE    = 08/12/2009",
                             "BZERO   = 32768.0", "BSCALE  = 1.0", "EXPTIME = 0.100",
                             "TELE    = KORVAN", "END"})
        header += std::string(card) + std::string(80 - std::strlen(card), ' ');
    header.resize(kFitsBlock, ' ');
    const char data[] = "\x80\x00\x7F\xFF\x80\x01\x00\x00\x00\x01\xFF\xFF\x01\x00\x80\x02";
    const std::string bytes = header + std::string(data, 16);
    WriteBytes(Path("old.fts"), std::vector<unsigned char>(bytes.begin(), bytes.end()));

    auto image = ReadFits(Path("old.fts"));
    ASSERT_TRUE(image) << LastPopupText();
    EXPECT_EQ(image->frames, 1);
    EXPECT_EQ(image->samples,
              (std::vector<uint16_t>{0, 65535, 1, 32768, 32769, 32767, 33024, 2}));
}

TEST_F(FitsEarlierTest, FaultyFilesAreRefusedWithTheReason) {
    const uint16_t samples[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(WriteFitsFile(Path("good.fts"), 4, 2, 1, samples, 1.0f, 1, kTime));
    const auto good = ReadBytes(Path("good.fts"));

    auto expectRefused = [&](const std::string& name, const std::string& why) {
        frontEnd.ClearPopups();
        EXPECT_FALSE(ReadFits(Path(name))) << name;
        const auto popups = Popups();
        ASSERT_EQ(popups.size(), 1u) << name;
        EXPECT_EQ(popups[0].title, "Error");
        EXPECT_NE(popups[0].text.find(why), std::string::npos) << popups[0].text;
    };
    expectRefused("missing.fts", "No File Exists");

    WriteBytes(Path("short.fts"), std::vector<unsigned char>(good.begin(), good.begin() + 2000));
    expectRefused("short.fts", "shorter than one FITS header block");

    // Axes that claim more data than follows the header.
    auto big = good;
    big.resize(kFitsBlock + 16);
    std::memcpy(big.data() + 240, "NAXIS1  = 4000", 14);
    WriteBytes(Path("big.fts"), big);
    expectRefused("big.fts", "claims 16000 bytes of data but the file holds 16");

    auto huge = good;
    std::memcpy(huge.data() + 160, "NAXIS   = 3   ", 14);
    std::memcpy(huge.data() + 400, "NAXIS3  = 2000000000", 20);
    WriteBytes(Path("huge.fts"), huge);
    expectRefused("huge.fts", "not a valid image size");

    auto negative = good;
    std::memcpy(negative.data() + 320, "NAXIS2  = -3  ", 14);
    WriteBytes(Path("negative.fts"), negative);
    expectRefused("negative.fts", "not a valid image size");

    auto floats = good;
    std::memcpy(floats.data() + 80, "BITPIX  = -32 ", 14);
    WriteBytes(Path("floats.fts"), floats);
    expectRefused("floats.fts", "BITPIX = -32 is not supported");

    auto noBitpix = good;
    std::memset(noBitpix.data() + 80, ' ', 80);
    WriteBytes(Path("nobitpix.fts"), noBitpix);
    expectRefused("nobitpix.fts", "BITPIX = 8 is not supported");  // the default

    auto fourAxes = good;
    std::memcpy(fourAxes.data() + 160, "NAXIS   = 4   ", 14);
    WriteBytes(Path("four.fts"), fourAxes);
    expectRefused("four.fts", "NAXIS = 4");
}

TEST_F(FitsEarlierTest, ByteChangeSwapsEveryWordAndLeavesAnOddByte) {
    unsigned char bytes[] = {1, 2, 3, 4, 5};
    ByteChange(bytes, sizeof bytes);
    const unsigned char expected[] = {2, 1, 4, 3, 5};
    EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof bytes));
}

}  // namespace
}  // namespace pelu::earlier
