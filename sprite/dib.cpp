// Header arithmetic of packed DIBs: where the colour table ends and the pixel
// bits begin. Only the header is read.
#include "sprite/sprite.h"
#include <cstring>

static const uint32_t InfoHeaderSize = 40;       // BITMAPINFOHEADER; anything else is a core header
static const uint32_t PaletteReadSize = 256 * 4; // the palette is always read from offset 40

static uint32_t Read32(const void *dib, size_t offset)
{
    uint32_t value;
    std::memcpy(&value, static_cast<const BYTE *>(dib) + offset, sizeof value);
    return value;
}

static uint16_t Read16(const void *dib, size_t offset)
{
    uint16_t value;
    std::memcpy(&value, static_cast<const BYTE *>(dib) + offset, sizeof value);
    return value;
}

uint16_t DibColorCount(const void *dib)
{
    uint32_t headerSize = Read32(dib, 0);
    if (headerSize == InfoHeaderSize) {
        uint32_t used = Read32(dib, 32); // biClrUsed
        if (used != 0)
            return static_cast<uint16_t>(used);
    }
    // biBitCount of the info header, bcBitCount of the core header
    uint16_t bitCount = Read16(dib, headerSize == InfoHeaderSize ? 14 : 10);
    switch (bitCount) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

uint16_t DibColorTableSize(const void *dib)
{
    // RGBQUAD entries behind an info header, RGBTRIPLE behind a core header
    uint16_t entrySize = Read32(dib, 0) == InfoHeaderSize ? 4 : 3;
    return static_cast<uint16_t>(DibColorCount(dib) * entrySize);
}

const BYTE *DibBitsPointer(const void *dib)
{
    return static_cast<const BYTE *>(dib) + Read32(dib, 0) + DibColorTableSize(dib);
}

int DibFits(const void *dib, size_t size)
{
    if (size < InfoHeaderSize + PaletteReadSize)
        return 0;
    uint32_t headerSize = Read32(dib, 0);
    uint64_t bitsOffset = static_cast<uint64_t>(headerSize) + DibColorTableSize(dib);
    uint64_t bitsSize;
    if (headerSize == InfoHeaderSize && (Read32(dib, 16) == 1 || Read32(dib, 16) == 2)) {
        bitsSize = Read32(dib, 20); // biSizeImage of BI_RLE8 or BI_RLE4 bits
    } else {
        bool info = headerSize == InfoHeaderSize;
        int64_t width = info ? static_cast<int32_t>(Read32(dib, 4)) : Read16(dib, 4);
        int64_t height = info ? static_cast<int32_t>(Read32(dib, 8)) : Read16(dib, 6);
        uint64_t bitCount = Read16(dib, info ? 14 : 10);
        uint64_t stride =
            ((static_cast<uint64_t>(width < 0 ? -width : width) * bitCount + 31) / 32) * 4;
        bitsSize = stride * static_cast<uint64_t>(height < 0 ? -height : height);
    }
    return bitsOffset <= size && bitsSize <= size - bitsOffset;
}
