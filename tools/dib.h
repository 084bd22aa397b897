// The 8-bit run-length-encoded device-independent bitmap: the one writer and
// the one reader of the form both bitmap resources take (40-byte info header,
// 256-entry colour table, BI_RLE8 bits right behind it, bottom-up).
#pragma once

#include "common/bytes.h"
#include "tools/image.h"

#include <string>

enum : uint32_t {
    DibHeaderSize = 40,
    DibColourTableSize = 256 * 4,
    DibBitsOffset = DibHeaderSize + DibColourTableSize, // 1064
    BitmapFileHeaderSize = 14,
    BiRle8 = 1,
};

// The BI_RLE8 bits of a picture. Every pixel of every row is written out
// (no deltas, no early end of line); each row but the last ends with an
// end-of-line escape, the last with end-of-bitmap.
Bytes EncodeRle8(const IndexedImage &image);

// Decodes BI_RLE8 bits into a width x height picture. Strict: fails on a
// delta, an end of line before the row is full, a run past the row's end,
// missing rows or data after the end of the bitmap, since none of these
// belongs in our bitmaps. On failure, error says where.
bool DecodeRle8(const uint8_t *bits, size_t size, int width, int height, IndexedImage *out,
                std::string *error);

// Header, colour table and bits: the bitmap resource as the program reads it.
Bytes BuildRle8Dib(const IndexedImage &image, const ColourTable &colours);

// The same with the 14-byte file header in front, as the resource compiler takes it.
Bytes BuildBitmapFile(const Bytes &dib);

struct DibInfo {
    uint32_t headerSize, sizeImage, clrUsed, clrImportant, compression;
    int32_t width, height;
    uint16_t planes, bitCount;
    ColourTable colours;
    const uint8_t *bits; // inside the buffer parsed
};

// Reads a bitmap resource of the form above and checks that form: header
// size, bottom-up, 8 bits, BI_RLE8, 256 colours, bits straight behind the
// table and exactly 1064 + biSizeImage bytes in all.
bool ParseRle8Dib(const uint8_t *dib, size_t size, DibInfo *info, std::string *error);
