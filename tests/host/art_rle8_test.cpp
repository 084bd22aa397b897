// The BI_RLE8 encoder and decoder, and the bitmap resource around them.
#include "tools/dib.h"
#include "tools/palette.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

IndexedImage Make(int w, int h, const std::function<uint8_t(int, int)> &pixel)
{
    IndexedImage image(w, h, 0);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            image.At(x, y) = pixel(x, y);
    return image;
}

// A 6 x 5 "F", 9 on 4: a flip or a shifted row shows.
IndexedImage LetterF()
{
    static const char *rows[] = {"######", "#.....", "####..", "#.....", "#....."};
    return Make(6, 5, [](int x, int y) { return rows[y][x] == '#' ? 9 : 4; });
}

IndexedImage One(std::vector<uint8_t> row)
{
    return Make(int(row.size()), 1, [&](int x, int) { return row[x]; });
}

std::string Dump(const Bytes &b)
{
    std::string s;
    for (uint8_t v : b)
        s += std::to_string(v) + " ";
    return s;
}

} // namespace

TEST(Rle8, RoundTripsThroughTheDecoder)
{
    uint32_t seed = 12345;
    auto noise = [&](int, int) {
        seed = seed * 1103515245u + 12345u;
        return uint8_t((seed >> 16) % 3); // short runs and literals of every length
    };
    struct Case {
        const char *what;
        IndexedImage image;
    } cases[] = {
        {"asymmetric letter", LetterF()},
        {"one pixel", Make(1, 1, [](int, int) { return 200; })},
        {"runs longer than 255", Make(601, 3, [](int x, int y) { return x < 300 + y ? 1 : 2; })},
        {"a literal longer than 255",
         Make(517, 2, [](int x, int y) { return uint8_t(x * 7 + y); })},
        {"odd literal, then a run", One({1, 2, 3, 4, 5, 6, 6, 6, 6})},
        {"literal of three", One({1, 2, 3})},
        {"row ending in a run of one", One({5, 5, 5, 5, 9})},
        {"row ending in a run of two", One({5, 5, 5, 5, 9, 9})},
        {"runs of two between runs", One({1, 1, 1, 2, 2, 3, 3, 3, 4, 4})},
        {"odd-sized noise", Make(37, 11, noise)},
        {"index 0 and 255 as pixels",
         Make(7, 3, [](int x, int y) { return (x + y) % 2 ? 0 : 255; })},
    };
    for (const Case &c : cases) {
        Bytes bits = EncodeRle8(c.image);
        IndexedImage back;
        std::string error;
        ASSERT_TRUE(
            DecodeRle8(bits.data(), bits.size(), c.image.width, c.image.height, &back, &error))
            << c.what << ": " << error;
        EXPECT_EQ(back.pixels, c.image.pixels) << c.what;
    }
}

TEST(Rle8, WritesTheEscapesTheDecodersExpect)
{
    struct Case {
        const char *what;
        std::vector<uint8_t> row;
        Bytes bits;
    } cases[] = {
        {"a run", {5, 5, 5}, {3, 5, 0, 1}},
        {"one pixel: a run of one, never an absolute run", {7}, {1, 7, 0, 1}},
        {"two different pixels: two runs of one", {1, 2}, {1, 1, 1, 2, 0, 1}},
        {"two equal pixels: a run of two", {8, 8}, {2, 8, 0, 1}},
        {"three different pixels: absolute, padded", {1, 2, 3}, {0, 3, 1, 2, 3, 0, 0, 1}},
        {"four: absolute, no padding", {1, 2, 3, 4}, {0, 4, 1, 2, 3, 4, 0, 1}},
        {"short runs stay in the literal", {1, 2, 2, 3}, {0, 4, 1, 2, 2, 3, 0, 1}},
        {"literal then a run of one at the end",
         {1, 2, 3, 3, 3, 4},
         {1, 1, 1, 2, 3, 3, 1, 4, 0, 1}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Dump(EncodeRle8(One(c.row))), Dump(c.bits)) << c.what;

    // 300 equal pixels: runs of 255 and 45.
    EXPECT_EQ(Dump(EncodeRle8(One(std::vector<uint8_t>(300, 9)))), Dump({255, 9, 45, 9, 0, 1}));
    // Rows go bottom-up, each but the last closed by an end of line.
    IndexedImage two = Make(3, 2, [](int, int y) { return y ? 6 : 4; });
    EXPECT_EQ(Dump(EncodeRle8(two)), Dump({3, 6, 0, 0, 3, 4, 0, 1}));
}

TEST(Rle8, DecoderRefusesWhatOurBitmapsMustNotHold)
{
    struct Case {
        const char *what;
        Bytes bits; // for a 3 x 2 picture
    } cases[] = {
        {"delta", {3, 1, 0, 2, 0, 1, 3, 1, 0, 1}},
        {"end of line before the row is full", {2, 1, 0, 0, 3, 1, 0, 1}},
        {"run past the end of the row", {4, 1, 0, 0, 3, 1, 0, 1}},
        {"absolute run past the end of the row", {0, 4, 1, 2, 3, 4, 0, 0, 3, 1, 0, 1}},
        {"end of bitmap before the last row", {3, 1, 0, 1}},
        {"no end of bitmap", {3, 1, 0, 0, 3, 1}},
        {"bytes after the end of bitmap", {3, 1, 0, 0, 3, 1, 0, 1, 0, 0}},
        {"absolute run cut short", {3, 1, 0, 0, 0, 3, 1, 2}},
    };
    for (const Case &c : cases) {
        IndexedImage out;
        std::string error;
        EXPECT_FALSE(DecodeRle8(c.bits.data(), c.bits.size(), 3, 2, &out, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
}

TEST(Rle8Dib, HasTheResourceForm)
{
    ColourTable colours{};
    colours[4] = Rgb{0, 0, 255}, colours[9] = Rgb{255, 0, 0},
    colours[Background] = Rgb{255, 255, 255};
    IndexedImage f = LetterF();
    Bytes dib = BuildRle8Dib(f, colours);
    DibInfo info;
    std::string error;
    ASSERT_TRUE(ParseRle8Dib(dib.data(), dib.size(), &info, &error)) << error;
    EXPECT_EQ(info.width, 6);
    EXPECT_EQ(info.height, 5); // positive: bottom-up
    EXPECT_EQ(dib.size(), DibBitsOffset + info.sizeImage);
    EXPECT_EQ(info.bits, dib.data() + 1064);
    // Colour table entries are blue, green, red, 0.
    EXPECT_EQ(Dump(Bytes(dib.begin() + 40 + 4 * 9, dib.begin() + 40 + 4 * 10)),
              Dump({0, 0, 255, 0}));
    EXPECT_EQ(info.colours[4], (Rgb{0, 0, 255}));
    IndexedImage back;
    ASSERT_TRUE(DecodeRle8(info.bits, info.sizeImage, info.width, info.height, &back, &error));
    EXPECT_EQ(back.pixels, f.pixels);

    Bytes file = BuildBitmapFile(dib);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(GetU32(&file[2]), file.size());
    EXPECT_EQ(GetU32(&file[10]), 14u + 1064u); // where the bits begin
    EXPECT_TRUE(std::equal(dib.begin(), dib.end(), file.begin() + 14));
}

TEST(Rle8Dib, ParserRefusesOtherForms)
{
    ColourTable colours{};
    Bytes good = BuildRle8Dib(LetterF(), colours);
    struct Case {
        const char *what;
        size_t offset;
        uint32_t value;
    } cases[] = {
        {"core header", 0, 12},
        {"top-down", 8, uint32_t(-5)},
        {"4 bits", 14, 4},
        {"uncompressed", 16, 0},
        {"size image too small", 20, 2},
        {"128 colours", 32, 128},
        {"255 important colours", 36, 255},
    };
    for (const Case &c : cases) {
        Bytes bad = good;
        if (c.offset == 14)
            bad[14] = uint8_t(c.value), bad[15] = 0;
        else
            SetU32(bad, c.offset, c.value);
        DibInfo info;
        EXPECT_FALSE(ParseRle8Dib(bad.data(), bad.size(), &info, nullptr)) << c.what;
    }
    DibInfo info;
    EXPECT_FALSE(ParseRle8Dib(good.data(), good.size() - 1, &info, nullptr)) << "one byte short";
}
