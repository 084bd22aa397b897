// Header arithmetic of packed DIBs: where the colour table ends and the pixel
// bits begin. Only the header is read.
#include "sprite/sprite.h"
#include <cstring>

static const uint32_t InfoHeaderSize = 40; // BITMAPINFOHEADER; anything else is a core header

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
