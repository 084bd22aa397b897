#include "tools/icon.h"

namespace {

enum : uint32_t { IconDirSize = 6, IconEntrySize = 16, HeaderSize = 40 };

size_t RowBytes(int width, int bits)
{
    return ((size_t(width) * bits + 31) / 32) * 4;
}

} // namespace

Bytes BuildIcon16(const IndexedImage &image, const std::array<Rgb, 16> &colours,
                  uint8_t transparent)
{
    size_t xorRow = RowBytes(image.width, 4), andRow = RowBytes(image.width, 1);
    uint32_t imageSize = HeaderSize + 16 * 4 + (xorRow + andRow) * image.height;
    Bytes out;
    PutU16(out, 0); // reserved
    PutU16(out, 1); // type: icon
    PutU16(out, 1); // one image
    PutU8(out, image.width), PutU8(out, image.height), PutU8(out, 16), PutU8(out, 0);
    PutU16(out, 1); // planes
    PutU16(out, 4); // bits per pixel
    PutU32(out, imageSize);
    PutU32(out, IconDirSize + IconEntrySize);

    PutU32(out, HeaderSize);
    PutU32(out, image.width);
    PutU32(out, 2 * image.height); // the colour picture and the mask
    PutU16(out, 1);
    PutU16(out, 4);
    for (int i = 0; i < 6; i++)
        PutU32(out, 0); // no compression, sizes and colour counts left to the reader
    for (const Rgb &c : colours)
        PutU8(out, c.b), PutU8(out, c.g), PutU8(out, c.r), PutU8(out, 0);
    for (int y = image.height - 1; y >= 0; y--) {
        Bytes row(xorRow, 0);
        for (int x = 0; x < image.width; x++) {
            uint8_t v = image.At(x, y) == transparent ? 0 : image.At(x, y) & 15;
            row[x / 2] |= x % 2 ? v : v << 4;
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    for (int y = image.height - 1; y >= 0; y--) {
        Bytes row(andRow, 0);
        for (int x = 0; x < image.width; x++)
            if (image.At(x, y) == transparent)
                row[x / 8] |= 0x80 >> (x % 8);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

bool ParseIcon16(const uint8_t *icon, size_t size, IconInfo *info, std::string *error)
{
    auto fail = [&](const char *what) {
        if (error)
            *error = what;
        return false;
    };
    if (size < IconDirSize + IconEntrySize || GetU16(icon) != 0 || GetU16(icon + 2) != 1 ||
        GetU16(icon + 4) != 1)
        return fail("not an icon file of one image");
    const uint8_t *entry = icon + IconDirSize;
    IconInfo r;
    r.width = entry[0] ? entry[0] : 256;
    r.height = entry[1] ? entry[1] : 256;
    r.colourCount = entry[2];
    r.planes = GetU16(entry + 4);
    r.bitCount = GetU16(entry + 6);
    uint32_t bytes = GetU32(entry + 8), offset = GetU32(entry + 12);
    if (offset > size || bytes > size - offset || bytes < HeaderSize + 64)
        return fail("image past the end of the file");
    const uint8_t *h = icon + offset;
    r.headerWidth = GetI32(h + 4);
    r.headerHeight = GetI32(h + 8);
    r.headerBitCount = GetU16(h + 14);
    if (GetU32(h) != HeaderSize || r.headerBitCount != 4 || r.headerWidth != r.width ||
        r.headerHeight != 2 * r.height)
        return fail("not a 4-bit image of the entry's size");
    size_t xorRow = RowBytes(r.width, 4), andRow = RowBytes(r.width, 1);
    if (bytes != HeaderSize + 64 + (xorRow + andRow) * r.height)
        return fail("image size does not match its rows");
    for (int i = 0; i < 16; i++)
        r.colours[i] =
            Rgb{h[HeaderSize + 4 * i + 2], h[HeaderSize + 4 * i + 1], h[HeaderSize + 4 * i]};
    const uint8_t *bits = h + HeaderSize + 64, *mask = bits + xorRow * r.height;
    r.pixels = IndexedImage(r.width, r.height, 0);
    r.mask = IndexedImage(r.width, r.height, 0);
    for (int y = 0; y < r.height; y++) {
        const uint8_t *row = bits + xorRow * (r.height - 1 - y);
        const uint8_t *mrow = mask + andRow * (r.height - 1 - y);
        for (int x = 0; x < r.width; x++) {
            r.pixels.At(x, y) = x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4;
            r.mask.At(x, y) = (mrow[x / 8] >> (7 - x % 8)) & 1;
        }
    }
    *info = std::move(r);
    return true;
}
