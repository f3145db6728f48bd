// The stored-file viewer and the bitmap export: FITS files opened through the
// Open control, BMP pictures written, read back and refused.
#include "display/file_viewer.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "tests/display/display_fixture.h"

namespace pelu {
namespace {

using testing::DisplayTest;

std::vector<unsigned char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}
void WriteAll(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
uint32_t U32(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
void Put32(std::vector<unsigned char>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

// ---- BMP layout --------------------------------------------------------------------------

class BitmapTest : public DisplayTest {
  protected:
    std::string Save(int width, int height, const std::vector<uint16_t>& plane, int low, int high) {
        const std::string path = (folder / "export.bmp").string();
        EXPECT_EQ(SaveBitmap(width, height, plane.data(), path, low, high), 1);
        return path;
    }
};

TEST_F(BitmapTest, A512SquareExportHasTheHeaderPaletteAndRows) {
    std::vector<uint16_t> plane(512 * 512, 1000);
    const std::vector<unsigned char> file = ReadAll(Save(512, 512, plane, 0, 2000));
    ASSERT_EQ(file.size(), 1078u + 262144u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(U32(file, 2), 1078u + 262144u);
    EXPECT_EQ(U32(file, 10), 1078u);
    EXPECT_EQ(U32(file, 14), 40u);
    EXPECT_EQ(U32(file, 18), 512u);
    EXPECT_EQ(U32(file, 22), 512u);
    EXPECT_EQ(file[26] | file[27] << 8, 1);
    EXPECT_EQ(file[28] | file[29] << 8, 8);
    EXPECT_EQ(U32(file, 34), 262144u);
    EXPECT_EQ(U32(file, 46), 256u);
    EXPECT_EQ(U32(file, 50), 256u);
    EXPECT_EQ(U32(file, 54 + 4 * 77), 0x004D4D4Du);  // grey ramp, blue green red 0
    EXPECT_EQ(file[1078], 127);                      // 255 x 1000 / 2000
}

TEST_F(BitmapTest, NarrowRowsArePaddedAndReopenUnskewedTheWayUp) {
    // 510 wide: rows of 512 bytes, the last two zero. Sample = row, scaled 0..255.
    const int w = 510, h = 3;
    std::vector<uint16_t> plane(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            plane[size_t(x) + size_t(w) * y] = uint16_t(y == 2 ? x % 200 : 10 * y);
    const std::string path = Save(w, h, plane, 0, 255);
    const std::vector<unsigned char> file = ReadAll(path);
    ASSERT_EQ(file.size(), 1078u + 3u * 512u);
    EXPECT_EQ(U32(file, 34), 3u * 512u);
    for (int row = 0; row < h; ++row) {
        EXPECT_EQ(file[1078 + 512 * row + 510], 0);
        EXPECT_EQ(file[1078 + 512 * row + 511], 0);
    }
    EXPECT_EQ(file[1078 + 512], 10);  // stored row 1 = plane row 1 (bottom-up)

    BmpImage image;
    ASSERT_EQ(DecodeBitmap(file, &image), "");
    ASSERT_EQ(image.width, w);
    ASSERT_EQ(image.height, h);
    // As on screen: the top row is the plane's last row, and no row is shifted.
    for (int x = 0; x < w; ++x)
        ASSERT_EQ(image.pixels[size_t(x)], ScaleSample(plane[size_t(x) + 2 * w], 0, 255)) << x;
    EXPECT_EQ(image.pixels[size_t(w) * 2], 0);
    EXPECT_EQ(image.palette[200], 0xC8C8C8);

    // Through the Open control: the picture equals what ByteDisplay draws.
    frontEnd.QueueFileAnswer(path);
    Script("commit MAIN.OPEN");
    const ui::PictureImage shown = Picture();
    ASSERT_EQ(shown.width, w);
    EXPECT_EQ(shown.pixels, image.pixels);
    EXPECT_TRUE(Dimmed(MAIN_PICTURE));  // a picture has no samples under the cursor
}

TEST_F(BitmapTest, AnExportThatCannotBeWrittenSaysSoAndReturnsZero) {
    const std::vector<uint16_t> plane(8 * 4, 100);
    const std::string path = (folder / "no" / "such" / "export.bmp").string();
    EXPECT_EQ(SaveBitmap(8, 4, plane.data(), path, 0, 200), 0);
    EXPECT_NE(
        GetText(state.mainPanel, MAIN_STATUS).find("The bitmap " + path + " could not be written"),
        std::string::npos);
    EXPECT_EQ(SaveBitmap(0, 4, plane.data(), path, 0, 200), 0);
}

TEST_F(BitmapTest, BadFilesAreRefusedWithTheirReasonAndThePictureStays) {
    std::vector<uint16_t> plane(8 * 4, 100);
    const std::vector<unsigned char> good = ReadAll(Save(8, 4, plane, 0, 200));
    BmpImage image;

    std::vector<unsigned char> bad = good;
    bad[28] = 24;
    EXPECT_EQ(DecodeBitmap(bad, &image), "Bad File Format!");
    bad = good;
    bad[0] = 'X';
    EXPECT_EQ(DecodeBitmap(bad, &image), "No BMP File");
    EXPECT_EQ(DecodeBitmap({'B', 'M'}, &image), "No BMP File");
    bad = good;
    Put32(bad, 34, 16);  // image size below width x height
    EXPECT_NE(DecodeBitmap(bad, &image).find("image size"), std::string::npos);
    bad = good;
    Put32(bad, 10, 5000);  // pixel offset past the end
    EXPECT_NE(DecodeBitmap(bad, &image).find("beyond the end"), std::string::npos);
    bad = good;
    bad.resize(bad.size() - 3);  // last row cut short
    EXPECT_NE(DecodeBitmap(bad, &image).find("ends before its last row"), std::string::npos);
    bad = good;
    Put32(bad, 22, 4000);  // a height the data does not hold (image size 0: "not given")
    Put32(bad, 34, 0);
    EXPECT_NE(DecodeBitmap(bad, &image).find("ends before"), std::string::npos);
    EXPECT_EQ(image.width, 0);  // never filled by a refused file

    // Through the Open control: popup, and the display keeps its picture.
    const std::vector<uint16_t> shown = {1, 2, 3, 4};
    OnDispatch([&] { ByteDisplay(2, 2, shown.data(), 0, 4); });
    const ui::PictureImage before = Picture();
    bad = good;
    bad[28] = 24;
    const std::string path = (folder / "colour.bmp").string();
    WriteAll(path, bad);
    frontEnd.QueueFileAnswer(path);
    Script("commit MAIN.OPEN");
    EXPECT_TRUE(Popped("Error", "Bad File Format!"));
    EXPECT_EQ(Picture().pixels, before.pixels);
    frontEnd.QueueFileAnswer((folder / "missing.bmp").string());
    Script("commit MAIN.OPEN");
    EXPECT_TRUE(Popped("Error", "No File Exists"));
}

// ---- FITS files ---------------------------------------------------------------------------

TEST_F(DisplayTest, ATwoDimensionalFileIsShownWithTheSelectorsDimmed) {
    const std::string path =
        WriteFits("image.fts", 1024, 256, 0, [](int x, int y, int) { return 40000 + x + y; });
    frontEnd.QueueFileAnswer(path);
    Script("commit MAIN.OPEN");
    EXPECT_EQ(state.DataSource, 0);
    EXPECT_EQ(display.FitsHeader.NAXIS, 2);
    EXPECT_EQ(display.FitsHeader.elementSize, 2);
    ASSERT_EQ(Picture().width, 1024);
    EXPECT_EQ(Picture().height, 256);
    EXPECT_TRUE(Dimmed(MAIN_FRAME));
    EXPECT_TRUE(Dimmed(MAIN_VIEW));
    // Samples above 32767 come back as the unsigned values written.
    EXPECT_EQ(state.pFitsData.get()[1023 + 1024 * 2], 40000 + 1025);
    EXPECT_EQ(Text(MAIN_FILE_NAXIS1), "1024");
    EXPECT_EQ(Text(MAIN_FILE_NAXIS2), "256");
    EXPECT_EQ(Text(MAIN_FILE_NAXIS3), "");
    EXPECT_EQ(Text(MAIN_FILE_EXPTIME), "0.25");
    EXPECT_EQ(Text(MAIN_MEAN), Format("%.2f", display.mean));
    EXPECT_NEAR(display.mean, 40000 + 511.5 + 127.5, 0.01);
    // 1024 x 256: the picture's view fits it; the panel keeps its size and
    // its title names the file.
    int width = 0, height = 0;
    ui::GetPanelAttribute(state.mainPanel, ui::ATTR_WIDTH, &width);
    ui::GetPanelAttribute(state.mainPanel, ui::ATTR_HEIGHT, &height);
    EXPECT_EQ(width, state.panelwidth);
    EXPECT_EQ(height, state.panelheight);
    std::string title;
    ui::GetPanelAttribute(state.mainPanel, ui::ATTR_TITLE, &title);
    EXPECT_EQ(title.rfind("image.fts - PELU_dbg", 0), 0u) << title;
    ASSERT_FALSE(display.FitsHeaderCards.empty());
    EXPECT_EQ(display.FitsHeaderCards[0].substr(0, 6), "SIMPLE");
    EXPECT_FALSE(Dimmed(MAIN_HEADER));
    EXPECT_FALSE(Dimmed(MAIN_GRAPH));
    EXPECT_FALSE(Dimmed(MAIN_PIXEL_VALUE));
}

TEST_F(DisplayTest, ACubeShowsFrameZeroAndItsFramesAndSlices) {
    const std::string path =
        WriteFits("cube.fts", 30, 20, 5, [](int x, int y, int f) { return 1000 * f + 10 * y + x; });
    frontEnd.QueueFileAnswer(path);
    Script("commit MAIN.OPEN");
    EXPECT_FALSE(Dimmed(MAIN_FRAME));
    EXPECT_EQ(Range(MAIN_FRAME, ui::ATTR_MAX_VALUE), 4);
    EXPECT_EQ(Int(MAIN_FRAME), 0);
    EXPECT_EQ(Text(MAIN_FILE_NAXIS3), "5");
    ASSERT_TRUE(state.pusFitsData);
    EXPECT_EQ(state.pusFitsData.get()[31], 11);
    Script("set MAIN.FRAME 3\ncommit MAIN.FRAME");
    EXPECT_EQ(state.pusFitsData.get()[31], 3011);
    Script("set MAIN.VIEW 1\ncommit MAIN.VIEW\nclick MAIN.PICTURE 2 0");
    EXPECT_EQ(Marked(), 0);
    EXPECT_EQ(Int(MAIN_FRAME), 2);
    EXPECT_EQ(state.pusFitsData.get()[0], 2000);
    // Scale changes redraw the file plane.
    Script("set MAIN.BYTSCL_MIN 2000\nset MAIN.BYTSCL_MAX 2001\ncommit MAIN.BYTSCL_MAX");
    EXPECT_EQ(Picture().pixels[size_t(30) * 19], 0);  // bottom-left sample 2000
    EXPECT_EQ(Picture().pixels[size_t(30) * 19 + 1], 255);
}

TEST_F(DisplayTest, AFlatProductOrABadFileChangesNothingShown) {
    const std::string cube =
        WriteFits("cube.fts", 8, 6, 4, [](int x, int, int f) { return 100 * f + x; });
    frontEnd.QueueFileAnswer(cube);
    Script("commit MAIN.OPEN\nset MAIN.FRAME 3\ncommit MAIN.FRAME");
    const ui::PictureImage before = Picture();
    const uint16_t* data = state.pFitsData.get();

    const std::string flat = WriteFits("flat.fts", 8, 6, 7, nullptr, true);
    frontEnd.QueueFileAnswer(flat);
    ::testing::internal::CaptureStdout();
    Script("commit MAIN.OPEN");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Cannot allocate pFitsData Memory\n");
    EXPECT_EQ(state.pFitsData.get(), data);
    EXPECT_EQ(display.FitsHeader.NAXIS3, 4);
    EXPECT_EQ(Picture().pixels, before.pixels);
    // The slider still browses the file that is shown.
    Script("set MAIN.FRAME 1\ncommit MAIN.FRAME");
    EXPECT_EQ(state.pusFitsData.get()[7], 107);

    const std::string broken = (folder / "broken.fts").string();
    std::vector<unsigned char> bytes = ReadAll(cube);
    bytes.resize(2880 + 10);  // header and a few bytes of data
    WriteAll(broken, bytes);
    frontEnd.QueueFileAnswer(broken);
    Script("commit MAIN.OPEN");
    EXPECT_TRUE(Popped("Error",
                       "broken.fts is cut short: its header promises 384 bytes of data, "
                       "the file holds 10."));
    frontEnd.QueueFileAnswer((folder / "nothing.fts").string());
    Script("commit MAIN.OPEN");
    EXPECT_TRUE(Popped("Error", "cannot be opened"));
    EXPECT_EQ(state.pFitsData.get(), data);
    EXPECT_EQ(display.FitsHeader.NAXIS1, 8);
    EXPECT_EQ(state.pusFitsData.get()[7], 107);
    EXPECT_FALSE(Dimmed(MAIN_PICTURE));
}

// Replaces the value of the header card `key` in the file's bytes.
void SetCard(std::vector<unsigned char>& bytes, const std::string& key, const std::string& value) {
    for (size_t at = 0; at + 80 <= 2880; at += 80) {
        if (std::string(bytes.begin() + at, bytes.begin() + at + 8) !=
            (key + "        ").substr(0, 8))
            continue;
        char card[81];
        std::snprintf(card, sizeof card, "%-8s= %20s%50s", key.c_str(), value.c_str(), "");
        std::copy_n(card, 80, bytes.begin() + at);
        return;
    }
    ADD_FAILURE() << key << " not in the header";
}

TEST_F(DisplayTest, HeadersThatPromiseWhatTheFileCannotHoldAreRefusedAtOnce) {
    const std::string cube =
        WriteFits("cube.fts", 8, 6, 4, [](int x, int, int f) { return 100 * f + x; });
    frontEnd.QueueFileAnswer(cube);
    Script("commit MAIN.OPEN");
    const uint16_t* data = state.pFitsData.get();
    ASSERT_NE(data, nullptr);
    const std::vector<unsigned char> good = ReadAll(cube);
    EXPECT_EQ(CheckFitsBytes("cube.fts", good.data(), good.size()), "");

    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> cards;
        const char* why;
    };
    const Case cases[] = {
        // 10^10 samples and no data: refused from the header, nothing allocated.
        {"vast.fts",
         {{"NAXIS1", "100000"}, {"NAXIS2", "100000"}, {"NAXIS3", "1"}},
         "vast.fts claims an image of 100000 x 100000 x 1 samples, more than this program can "
         "hold."},
        {"claims.fts",
         {{"NAXIS1", "4000"}, {"NAXIS2", "4000"}},
         "claims.fts is cut short: its header promises 128000000 bytes of data, the file holds"},
        {"wrap.fts",
         {{"NAXIS1", "2147483647"}, {"NAXIS2", "2147483647"}, {"NAXIS3", "2147483647"}},
         "more than this program can hold"},
        {"zero.fts", {{"NAXIS2", "0"}}, "zero.fts holds an empty image (8 x 0 x 4)."},
        // CFITSIO refuses a negative axis when it opens the file.
        {"negative.fts", {{"NAXIS3", "-2"}}, "negative.fts cannot be opened:\nillegal NAXISn"},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> bytes = good;
        for (const auto& [key, value] : c.cards) SetCard(bytes, key, value);
        const std::string path = (folder / c.name).string();
        WriteAll(path, bytes);
        frontEnd.QueueFileAnswer(path);
        Script("commit MAIN.OPEN");
        EXPECT_TRUE(Popped("Error", c.why)) << c.name;
        const std::string reason = CheckFitsBytes(c.name, bytes.data(), bytes.size());
        EXPECT_NE(reason.find(c.why), std::string::npos) << c.name << ": " << reason;
    }

    // A card area without END is not a FITS header.
    std::vector<unsigned char> noEnd = good;
    for (size_t at = 0; at < 2880; at += 80)
        if (std::string(noEnd.begin() + at, noEnd.begin() + at + 8) == "END     ")
            std::fill_n(noEnd.begin() + at, 80, ' ');
    WriteAll((folder / "noend.fts").string(), noEnd);
    frontEnd.QueueFileAnswer((folder / "noend.fts").string());
    Script("commit MAIN.OPEN");
    EXPECT_TRUE(Popped("Error", "noend.fts cannot be opened"));
    EXPECT_NE(CheckFitsBytes("noend.fts", noEnd.data(), noEnd.size()), "");

    // The mandatory cards out of their places, or given twice: refused before
    // CFITSIO reads the header its own way (a second, different header after
    // the first once crashed it).
    auto cardAt = [&](std::vector<unsigned char>& bytes, int index, const std::string& card) {
        std::string padded = card;
        padded.resize(80, ' ');
        std::copy(padded.begin(), padded.end(), bytes.begin() + index * 80);
    };
    std::vector<unsigned char> twice = good;
    cardAt(twice, 7, "NAXIS2  =                    3");
    std::vector<unsigned char> swapped = good;
    cardAt(swapped, 3, "NAXIS2  =                    6");
    cardAt(swapped, 4, "NAXIS1  =                    8");
    std::vector<unsigned char> unreadable = good;
    cardAt(unreadable, 2, std::string("NAXIS   =              \0\0    3", 30));
    cardAt(unreadable, 8, "NAXIS   =                    3");
    for (auto* bytes : {&twice, &swapped, &unreadable}) {
        const std::string reason = CheckFitsBytes("odd.fts", bytes->data(), bytes->size());
        EXPECT_NE(reason.find("does not begin with BITPIX, NAXIS and NAXIS1 to NAXISn"),
                  std::string::npos)
            << reason;
    }

    EXPECT_EQ(state.pFitsData.get(), data);
    EXPECT_EQ(display.FitsHeader.NAXIS1, 8);
}

TEST_F(DisplayTest, TheEarlierEditionsFilesOpenWithEverySample) {
    // Its layout, by hand: free-format cards, BZERO 32768, each sample s
    // stored as s - 32768 high byte first, directly after the header.
    const char* cards[] = {"SIMPLE  = T",          "BITPIX  = 16",
                           "NAXIS   = 3",          "NAXIS1  = 4",
                           "NAXIS2  = 2",          "NAXIS3  = 2",
                           "DATE    = 08/12/2009", "BZERO   = 32768.0",
                           "BSCALE  = 1.0",        "EXPTIME = 0.100",
                           "TELE    = KORVAN",     "INST    = PELU Spectrograph",
                           "CAMERANO= 1",          "END"};
    std::vector<unsigned char> bytes(2880, ' ');
    size_t at = 0;
    for (const char* card : cards) {
        std::copy_n(card, std::strlen(card), bytes.begin() + at);
        at += 80;
    }
    const std::vector<uint16_t> samples = {0, 1, 32767, 32768, 40000, 65535, 1000, 2,
                                           3, 4, 5,     6,     7,     8,     9,    60000};
    for (uint16_t sample : samples) {
        const uint16_t stored = sample ^ 0x8000u;
        bytes.push_back(stored >> 8);
        bytes.push_back(stored & 0xFF);
    }
    const std::string path = (folder / "PELU_20090812_031500_QEL.fts").string();
    WriteAll(path, bytes);
    EXPECT_EQ(CheckFitsBytes("PELU_20090812_031500_QEL.fts", bytes.data(), bytes.size()), "");
    frontEnd.QueueFileAnswer(path);
    Script("commit MAIN.OPEN");
    ASSERT_TRUE(state.pFitsData) << (frontEnd.Popups().empty() ? ""
                                                               : frontEnd.Popups().back().text);
    EXPECT_EQ(std::vector<uint16_t>(state.pFitsData.get(), state.pFitsData.get() + 16), samples);
    EXPECT_EQ(Text(MAIN_FILE_NAXIS3), "2");
    EXPECT_EQ(Text(MAIN_FILE_EXPTIME), "0.10");
}

TEST_F(DisplayTest, TheExportedPlaneIsTheOneOnScreen) {
    const std::string cube =
        WriteFits("cube.fts", 12, 5, 6, [](int x, int y, int f) { return 1000 * f + 10 * y + x; });
    frontEnd.QueueFileAnswer(cube);
    Script(
        "commit MAIN.OPEN\nset MAIN.VIEW 1\ncommit MAIN.VIEW\nset MAIN.BYTSCL_MIN 0\nset "
        "MAIN.BYTSCL_MAX 6000");
    const std::string path = (folder / "slice.bmp").string();
    frontEnd.QueueFileAnswer(path);
    OnDispatch([] { SaveDisplayAsBitmap(); });
    BmpImage image;
    ASSERT_EQ(DecodeBitmap(ReadAll(path), &image), "");
    EXPECT_EQ(image.width, 6);  // frames x height of the slice
    EXPECT_EQ(image.height, 5);
    // Top-left of the picture: frame 0, row 4 of column 0.
    // The scale controls keep to the plane's range [0, 5040].
    const int low = Int(MAIN_BYTSCL_MIN), high = Int(MAIN_BYTSCL_MAX);
    EXPECT_EQ(high, 5040);
    EXPECT_EQ(image.pixels[0], ScaleSample(40, low, high));
    EXPECT_EQ(image.pixels[5], ScaleSample(5040, low, high));
    EXPECT_EQ(image.pixels[size_t(6) * 4], ScaleSample(0, low, high));
}

}  // namespace
}  // namespace pelu
