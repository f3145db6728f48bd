// The one-camera program's FITS writer and reader, checked byte by byte
// against files built by hand and by a reader nobody here wrote (astropy).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <numeric>

#include <signal.h>
#include <sys/resource.h>

#include "earlier/fits_earlier.h"
#include "resources/earlier_uir.h"
#include "state/controls.h"
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

std::string Blanked(const std::string& text) { return text + std::string(80 - text.size(), ' '); }

// The file the table of this program's layout describes, built card by card:
// a blank block, each card's text at its offset, the samples straight after.
std::vector<unsigned char> HandBuiltFile(const std::vector<std::string>& cards,
                                         const std::vector<unsigned char>& data) {
    std::vector<unsigned char> file(kFitsBlock, ' ');
    for (size_t i = 0; i < cards.size(); ++i)
        std::memcpy(file.data() + 80 * i, cards[i].data(), cards[i].size());
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

TEST_F(FitsEarlierTest, SingleFrameIsTheHandBuiltFileByteForByte) {
    const uint16_t samples[8] = {0, 65535, 1, 32768, 2, 3, 4, 5};
    const std::string path = Path("one.fts");
    ASSERT_TRUE(WriteFitsFile(path, 4, 2, 1, samples, 0.1f, 100, kTime));
    const auto expected = HandBuiltFile(
        {"SIMPLE  = T", "BITPIX  = 16", "NAXIS   = 2", "NAXIS1  = 4", "NAXIS2  = 2",
         "NAXIS3  = 1", "DATE    = 08/12/2009", "BZERO   = 32768.0", "BSCALE  = 1.0",
         "EXPTIME = 0.100", "TELE    = KORVAN", "INST    = PELU Spectrograph",
         "CAMERANO= 100", "END"},
        // s - 32768, high byte first; no padding.
        {0x80, 0x00, 0x7F, 0xFF, 0x80, 0x01, 0x00, 0x00, 0x80, 0x02, 0x80, 0x03, 0x80, 0x04,
         0x80, 0x05});
    const auto file = ReadBytes(path);
    ASSERT_EQ(file.size(), size_t(kFitsBlock + 16));
    for (size_t i = 0; i < file.size(); ++i)
        ASSERT_EQ(file[i], expected[i]) << "byte " << i << " (card " << i / 80 << ")";
}

TEST_F(FitsEarlierTest, CubeHeaderCardsAndDataLength) {
    const int w = 3, h = 2, frames = 5;
    std::vector<uint16_t> samples(w * h * frames, 7);
    const std::string path = Path("cube.fts");
    ASSERT_TRUE(WriteFitsFile(path, w, h, frames, samples.data(), 12.25f, -3, kTime));
    const auto file = ReadBytes(path);
    ASSERT_EQ(file.size(), size_t(kFitsBlock + 2 * w * h * frames));
    EXPECT_EQ(Card(file, 160), Blanked("NAXIS   = 3"));
    EXPECT_EQ(Card(file, 400), Blanked("NAXIS3  = 5"));
    EXPECT_EQ(Card(file, 720), Blanked("EXPTIME = 12.250"));
    EXPECT_EQ(Card(file, 960), Blanked("CAMERANO= -3"));
    const os::UtcTime newYear{2027, 1, 3, 0, 0, 0, 0};
    ASSERT_TRUE(WriteFitsFile(Path("jan.fts"), w, h, 1, samples.data(), 1.0f, 1, newYear));
    EXPECT_EQ(Card(ReadBytes(Path("jan.fts")), 480),
              Blanked("DATE    = 01/03/2027"));
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
    EXPECT_EQ(file.size(), size_t(kFitsBlock + 2 * w * h * frames));

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

// With the main panel loaded the writer's reports reach its status box.
class FitsWriterReportTest : public FitsEarlierTest {
protected:
    void SetUp() override {
        FitsEarlierTest::SetUp();
        testing::RegisterInertCallbacks("PELU.uir");
        state.mainPanel = ui::LoadPanel(0, "PELU.uir", MAIN_RESOURCE);
        ASSERT_GT(state.mainPanel, 0) << ui::LastLoadError();
    }
    std::string Status() const { return GetText(state.mainPanel, MAIN_STATUS); }
};

TEST_F(FitsWriterReportTest, TakesOfTheSameSecondKeepEveryFile) {
    const uint16_t first[4] = {1, 1, 1, 1}, second[4] = {2, 2, 2, 2}, third[4] = {3, 3, 3, 3};
    const std::string name = Path("PELU_20090812_031500_QEL.fts");
    std::string written[3];
    ASSERT_TRUE(WriteFitsFile(name, 2, 2, 1, first, 1.0f, 1, kTime, &written[0]));
    ASSERT_TRUE(WriteFitsFile(name, 2, 2, 1, second, 1.0f, 1, kTime, &written[1]));
    ASSERT_TRUE(WriteFitsFile(name, 2, 2, 1, third, 1.0f, 1, kTime, &written[2]));
    EXPECT_EQ(written[0], name);
    EXPECT_EQ(written[1], Path("PELU_20090812_031500_QEL_1.fts"));
    EXPECT_EQ(written[2], Path("PELU_20090812_031500_QEL_2.fts"));
    const uint16_t* expected[3] = {first, second, third};
    for (int i = 0; i < 3; ++i) {
        auto image = ReadFits(written[i]);
        ASSERT_TRUE(image) << LastPopupText();
        EXPECT_EQ(image->samples, std::vector<uint16_t>(expected[i], expected[i] + 4)) << i;
    }
    EXPECT_NE(Status().find(name + " exists already: this series is written as " + written[2]),
              std::string::npos)
        << Status();
}

TEST_F(FitsWriterReportTest, AFailedWriteIsReportedWithTheNameAndLeavesNoHalfFile) {
    // The process may write no more than a header and a little: the data
    // of the series fails halfway, as on a full disk.
    std::vector<uint16_t> samples(64 * 64, 9);
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previous = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = WriteFitsFile(Path("full.fts"), 64, 64, 1, samples.data(), 1.0f, 1, kTime);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    // Neither the file nor the temporary one it was written as is left.
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    EXPECT_NE(Status().find("FITS file " + Path("full.fts") + " not written: File too large"),
              std::string::npos)
        << Status();

    EXPECT_FALSE(WriteFitsFile(Path("no/such/folder/x.fts"), 2, 2, 1, samples.data(), 1.0f, 1,
                               kTime));
    EXPECT_NE(Status().find("FITS file " + Path("no/such/folder/x.fts") +
                            " not written: No such file or directory"),
              std::string::npos)
        << Status();
}

TEST_F(FitsWriterReportTest, AFailedSaveOffersAnotherFolderAndWritesOnlyTheFinishedFile) {
    state.nCameraHandle1 = 100;
    const uint16_t samples[4] = {1, 2, 3, 4};
    const auto cwd = std::filesystem::current_path();
    // The working folder is gone: the file cannot be created there.
    const std::filesystem::path gone = std::filesystem::path(dir) / "gone";
    const std::filesystem::path elsewhere = std::filesystem::path(dir) / "elsewhere";
    std::filesystem::create_directories(gone);
    std::filesystem::create_directories(elsewhere);
    std::filesystem::current_path(gone);
    std::filesystem::remove(gone);
    frontEnd.QueueFileAnswer(elsewhere.string());
    std::string written;
    const int saved = SaveFits(2, 2, 1, samples, 0.5f, 100, &written);
    frontEnd.QueueFileAnswer(std::nullopt);
    const int kept = SaveFits(2, 2, 1, samples, 0.5f, 100);
    std::filesystem::current_path(cwd);

    EXPECT_EQ(saved, 1);
    EXPECT_EQ(kept, 0) << "the second save's folder dialog was cancelled";
    EXPECT_EQ(written.rfind(elsewhere.string() + "\\PELU_", 0), 0u) << written;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(elsewhere))
        names.push_back(entry.path().filename().string());
    ASSERT_EQ(names.size(), 1u) << "no temporary file is left beside it";
    EXPECT_TRUE(names[0].ends_with("_QEL.fts")) << names[0];
    const auto popups = Popups();
    ASSERT_EQ(popups.size(), 2u);
    EXPECT_EQ(popups[0].kind, ui::PopupRecord::Kind::Folder);
    EXPECT_NE(popups[0].title.find("was not saved"), std::string::npos) << popups[0].title;
    EXPECT_NE(Status().find("is in memory only"), std::string::npos) << Status();
    EXPECT_EQ(GetText(state.mainPanel, MAIN_WARN_SAVES), "2");
}

TEST_F(FitsEarlierTest, UnwritablePlaceWritesNothingAndStillReturnsOne) {
    const uint16_t samples[4] = {1, 2, 3, 4};
    EXPECT_FALSE(WriteFitsFile(Path("no/such/folder/x.fts"), 2, 2, 1, samples, 1.0f, 1, kTime));
    EXPECT_FALSE(std::filesystem::exists(Path("no/such/folder/x.fts")));
    EXPECT_TRUE(Popups().empty());
}

TEST_F(FitsEarlierTest, AnIndependentReaderGetsTheCameraSamples) {
    // The layout is not standard FITS (free-format cards, no padding), but a
    // tolerant reader must still find the samples where we put them.
    if (Shell("/usr/bin/python3 -c 'import astropy' 2>/dev/null && echo yes").empty())
        GTEST_SKIP() << "astropy is not installed";
    const int w = 5, h = 3, frames = 4;
    std::vector<uint16_t> samples(w * h * frames);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(i * 4099);
    samples.back() = 65535;
    ASSERT_TRUE(WriteFitsFile(Path("cube.fts"), w, h, frames, samples.data(), 1.0f, 1, kTime));
    // astropy applies BZERO itself: the data must come back as the camera's samples.
    const std::string script =
        "import sys, numpy; from astropy.io import fits\n"
        "d = fits.getdata(sys.argv[1]); print(d.dtype, d.shape, ' '.join(str(int(v)) for v in "
        "d.ravel()))\n";
    const std::string out =
        Shell("/usr/bin/python3 -c \"" + script + "\" " + Path("cube.fts") + " 2>/dev/null");
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
    expectRefused("big.fts", "Cannot show big.fts: the header claims 16000 bytes of data but the "
                             "file holds 16");

    auto huge = good;
    std::memcpy(huge.data() + 160, "NAXIS   = 3   ", 14);
    std::memcpy(huge.data() + 400, "NAXIS3  = 2000000000", 20);
    WriteBytes(Path("huge.fts"), huge);
    expectRefused("huge.fts", "more data than this program can hold");

    // Three axes whose product overflows 64 bits must not wrap round to a
    // size the file seems to hold.
    auto wrapping = good;
    std::memcpy(wrapping.data() + 160, "NAXIS   = 3   ", 14);
    std::memcpy(wrapping.data() + 240, "NAXIS1  = 2147483647", 20);
    std::memcpy(wrapping.data() + 320, "NAXIS2  = 2147483647", 20);
    std::memcpy(wrapping.data() + 400, "NAXIS3  = 2147483647", 20);
    WriteBytes(Path("wrap.fts"), wrapping);
    expectRefused("wrap.fts", "more data than this program can hold");

    // An axis beyond int is refused, not wrapped or taken as the default.
    auto beyondInt = good;
    std::memcpy(beyondInt.data() + 240, "NAXIS1  = 4294967300", 20);
    WriteBytes(Path("beyond.fts"), beyondInt);
    expectRefused("beyond.fts", "the axes 0 x 2 x 1 are not a valid image size");

    auto noEnd = good;
    std::memset(noEnd.data() + 1040, ' ', 80);
    WriteBytes(Path("noend.fts"), noEnd);
    expectRefused("noend.fts", "Cannot show noend.fts: the header block has no END card");

    auto zero = good;
    std::memcpy(zero.data() + 240, "NAXIS1  = 0   ", 14);
    WriteBytes(Path("zero.fts"), zero);
    expectRefused("zero.fts", "not a valid image size");

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

TEST_F(FitsEarlierTest, DecodingFromMemoryAgreesWithReadingTheFile) {
    const uint16_t samples[6] = {0, 1, 2, 65535, 32768, 40000};
    ASSERT_TRUE(WriteFitsFile(Path("m.fts"), 3, 2, 1, samples, 1.0f, 1, kTime));
    auto bytes = ReadBytes(Path("m.fts"));
    std::string reason;
    auto image = DecodeFits(bytes.data(), bytes.size(), &reason);
    ASSERT_TRUE(image) << reason;
    EXPECT_EQ(image->samples, std::vector<uint16_t>(samples, samples + 6));
    // One byte short of the data the header promises.
    EXPECT_FALSE(DecodeFits(bytes.data(), bytes.size() - 1, &reason));
    EXPECT_NE(reason.find("claims 12 bytes of data but the file holds 11"), std::string::npos)
        << reason;
    EXPECT_FALSE(DecodeFits(bytes.data(), 100, &reason));
    EXPECT_NE(reason.find("shorter than one FITS header block"), std::string::npos) << reason;
}

TEST_F(FitsEarlierTest, ByteChangeSwapsEveryWordAndLeavesAnOddByte) {
    unsigned char bytes[] = {1, 2, 3, 4, 5};
    ByteChange(bytes, sizeof bytes);
    const unsigned char expected[] = {2, 1, 4, 3, 5};
    EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof bytes));
}

}  // namespace
}  // namespace pelu::earlier
