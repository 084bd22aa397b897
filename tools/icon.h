// Icon files of one 16-colour image: the one writer and the one reader.
#pragma once

#include "common/bytes.h"
#include "tools/image.h"

#include <string>

// An icon of the picture: pixels are indices 0 to 15 into colours; those
// equal to transparent are left out by the AND mask (and stored as 0).
Bytes BuildIcon16(const IndexedImage &image, const std::array<Rgb, 16> &colours,
                  uint8_t transparent);

struct IconInfo {
    int width, height;                             // from the directory entry (0 means 256)
    int colourCount;                               // directory entry's bColorCount
    int planes, bitCount;                          // directory entry
    int headerWidth, headerHeight, headerBitCount; // the image's BITMAPINFOHEADER
    std::array<Rgb, 16> colours;
    IndexedImage pixels; // top-down indices
    IndexedImage mask;   // 1 where transparent
};

// Reads an icon file holding a single 4-bit image.
bool ParseIcon16(const uint8_t *icon, size_t size, IconInfo *info, std::string *error);
