// DIB header arithmetic: colour count, colour table size, where the bits begin.
#include "sprite/sprite.h"
#include <gtest/gtest.h>
#include <cstring>
#include <vector>

namespace {
void Put32(std::vector<BYTE> &bytes, size_t at, uint32_t value)
{
    std::memcpy(&bytes[at], &value, 4);
}
void Put16(std::vector<BYTE> &bytes, size_t at, uint16_t value)
{
    std::memcpy(&bytes[at], &value, 2);
}
} // namespace

TEST(Dib, ColourTableAndBits)
{
    struct Case {
        uint32_t headerSize;
        uint16_t bitCount;
        uint32_t colorsUsed; // written at offset 32, which only an info header has
        uint16_t count, tableSize;
        uint32_t bitsOffset;
    } cases[] = {
        {40, 1, 0, 2, 8, 48},
        {40, 4, 0, 16, 64, 104},
        {40, 8, 0, 256, 1024, 1064}, // the frame strip's form
        {40, 24, 0, 0, 0, 40},       // no colour table
        {40, 16, 0, 0, 0, 40},
        {40, 2, 0, 0, 0, 40},
        {40, 24, 256, 256, 1024, 1064}, // biClrUsed wins over the depth
        {40, 8, 16, 16, 64, 104},
        {40, 8, 70000, 4464, 17856, 17896}, // counts are 16-bit
        {12, 8, 0, 256, 768, 780},          // core header: RGBTRIPLE entries
        {12, 1, 5, 2, 6, 18},               // offset 32 means nothing behind a core header
        {12, 24, 0, 0, 0, 12},
        {124, 8, 16, 256, 768, 892}, // any size but 40 is read as a core header
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "header " << c.headerSize << ", " << c.bitCount
                                          << " bits, " << c.colorsUsed << " used");
        // One byte in, so the fields sit off their natural alignment.
        std::vector<BYTE> bytes(1 + 124, 0);
        BYTE *dib = &bytes[1];
        std::vector<BYTE> header(124, 0);
        Put32(header, 0, c.headerSize);
        if (c.headerSize == 40) {
            Put16(header, 14, c.bitCount);
        } else {
            Put16(header, 10, c.bitCount);
            Put16(header, 14, 99); // an info header's depth field is not read
        }
        Put32(header, 32, c.colorsUsed);
        std::memcpy(dib, header.data(), header.size());
        EXPECT_EQ(DibColorCount(dib), c.count);
        EXPECT_EQ(DibColorTableSize(dib), c.tableSize);
        EXPECT_EQ(DibBitsPointer(dib) - dib, static_cast<ptrdiff_t>(c.bitsOffset));
    }
}

// What the palette loader reads must lie inside the resource.
TEST(Dib, FitsInItsResource)
{
    struct Case {
        const char *what;
        uint32_t headerSize;
        int32_t width, height;
        uint32_t compression, sizeImage, colorsUsed;
        size_t size;
        int fits;
    } cases[] = {
        {"run-length bits of biSizeImage", 40, 5504, 128, 1, 100, 0, 1064 + 100, 1},
        {"run-length bits cut short", 40, 5504, 128, 1, 100, 0, 1064 + 99, 0},
        {"biSizeImage beyond any size", 40, 5504, 128, 1, 0xFFFFFFFF, 0, 1064 + 100, 0},
        {"4-bit run-length bits of biSizeImage", 40, 5504, 128, 2, 100, 16, 1064 + 100, 1},
        {"plain rows padded to 4 bytes", 40, 5, 3, 0, 0, 0, 1064 + 24, 1},
        {"plain rows cut short", 40, 5, 3, 0, 0, 0, 1064 + 23, 0},
        {"top-down plain rows", 40, 5, -3, 0, 0, 0, 1064 + 23, 0},
        {"shorter than the colour table the palette reads", 40, 1, 1, 1, 0, 0, 1063, 0},
        // One colour and one row fit in 48 bytes, but the palette reads 256.
        {"one colour, 100 bytes", 40, 1, 1, 0, 0, 1, 100, 0},
        {"header size beyond the resource", 0xFFFFFFF0, 1, 1, 1, 0, 0, 4096, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<BYTE> dib(c.size, 0);
        Put32(dib, 0, c.headerSize);
        Put32(dib, 4, static_cast<uint32_t>(c.width));
        Put32(dib, 8, static_cast<uint32_t>(c.height));
        Put16(dib, 14, 8);
        Put32(dib, 16, c.compression);
        Put32(dib, 20, c.sizeImage);
        Put32(dib, 32, c.colorsUsed);
        EXPECT_EQ(DibFits(dib.data(), dib.size()), c.fits);
    }
}
