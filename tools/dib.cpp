#include "tools/dib.h"

namespace {

enum : uint8_t { Escape = 0, EndOfLine = 0, EndOfBitmap = 1, Delta = 2 };
const int MaxRun = 255;
const int MinLiteral = 3; // shorter counts after the escape byte are escapes

// Length of the run of equal pixels starting at x, at most MaxRun.
int RunAt(const uint8_t *row, int x, int width)
{
    int n = 1;
    while (x + n < width && n < MaxRun && row[x + n] == row[x])
        n++;
    return n;
}

void EncodeRow(const uint8_t *row, int width, Bytes &out)
{
    int x = 0;
    while (x < width) {
        int run = RunAt(row, x, width);
        if (run >= MinLiteral) {
            PutU8(out, run), PutU8(out, row[x]);
            x += run;
            continue;
        }
        // A stretch of short runs, up to the next run worth encoding.
        int end = x;
        while (end < width && end - x < MaxRun) {
            int r = RunAt(row, end, width);
            if (r >= MinLiteral)
                break;
            end += r;
        }
        if (end - x > MaxRun)
            end = x + MaxRun;
        if (end - x >= MinLiteral) {
            PutU8(out, Escape), PutU8(out, end - x);
            out.insert(out.end(), row + x, row + end);
            if ((end - x) & 1)
                PutU8(out, 0); // absolute runs end on a 16-bit boundary
            x = end;
            continue;
        }
        // One or two pixels cannot go out as an absolute run: encoded runs.
        while (x < end) {
            int r = RunAt(row, x, end);
            PutU8(out, r), PutU8(out, row[x]);
            x += r;
        }
    }
}

bool Fail(std::string *error, const std::string &what, size_t at)
{
    if (error)
        *error = what + " at byte " + std::to_string(at);
    return false;
}

} // namespace

Bytes EncodeRle8(const IndexedImage &image)
{
    Bytes out;
    for (int y = image.height - 1; y >= 0; y--) { // bottom-up
        EncodeRow(&image.pixels[size_t(y) * image.width], image.width, out);
        PutU8(out, Escape), PutU8(out, y > 0 ? EndOfLine : EndOfBitmap);
    }
    return out;
}

bool DecodeRle8(const uint8_t *bits, size_t size, int width, int height, IndexedImage *out,
                std::string *error)
{
    IndexedImage image(width, height, 0);
    int x = 0, row = 0; // row counts from the bottom
    size_t i = 0;
    while (true) {
        if (i + 2 > size)
            return Fail(error, "bits end before the end of the bitmap", i);
        uint8_t count = bits[i], value = bits[i + 1];
        if (count > 0) {
            if (row >= height || x + count > width)
                return Fail(error, "encoded run past the end of the row", i);
            for (int k = 0; k < count; k++)
                image.At(x++, height - 1 - row) = value;
            i += 2;
        } else if (value == EndOfLine || value == EndOfBitmap) {
            if (row >= height || x != width)
                return Fail(error, "row ended before it was full", i);
            i += 2;
            x = 0, row++;
            if (value == EndOfBitmap)
                break;
        } else if (value == Delta) {
            return Fail(error, "delta escape", i);
        } else {
            size_t padded = (value + 1u) & ~1u;
            if (i + 2 + padded > size)
                return Fail(error, "absolute run past the end of the bits", i);
            if (row >= height || x + value > width)
                return Fail(error, "absolute run past the end of the row", i);
            for (int k = 0; k < value; k++)
                image.At(x++, height - 1 - row) = bits[i + 2 + k];
            i += 2 + padded;
        }
    }
    if (row != height)
        return Fail(error, "end of bitmap before the last row", i);
    if (i != size)
        return Fail(error, "data after the end of the bitmap", i);
    *out = std::move(image);
    return true;
}

Bytes BuildRle8Dib(const IndexedImage &image, const ColourTable &colours)
{
    Bytes bits = EncodeRle8(image);
    Bytes out;
    PutU32(out, DibHeaderSize);
    PutU32(out, image.width);
    PutU32(out, image.height); // positive: bottom-up
    PutU16(out, 1);            // planes
    PutU16(out, 8);            // bits per pixel
    PutU32(out, BiRle8);
    PutU32(out, bits.size()); // biSizeImage
    PutU32(out, 0);           // pixels per metre, x and y
    PutU32(out, 0);
    PutU32(out, 256); // colours used
    PutU32(out, 256); // colours important
    for (const Rgb &c : colours) {
        PutU8(out, c.b), PutU8(out, c.g), PutU8(out, c.r), PutU8(out, 0);
    }
    out.insert(out.end(), bits.begin(), bits.end());
    return out;
}

Bytes BuildBitmapFile(const Bytes &dib)
{
    Bytes out;
    PutU8(out, 'B'), PutU8(out, 'M');
    PutU32(out, BitmapFileHeaderSize + dib.size());
    PutU32(out, 0); // reserved
    PutU32(out, BitmapFileHeaderSize + DibBitsOffset);
    out.insert(out.end(), dib.begin(), dib.end());
    return out;
}

bool ParseRle8Dib(const uint8_t *dib, size_t size, DibInfo *info, std::string *error)
{
    if (size < DibBitsOffset)
        return Fail(error, "shorter than header and colour table", size);
    DibInfo d;
    d.headerSize = GetU32(dib);
    d.width = GetI32(dib + 4);
    d.height = GetI32(dib + 8);
    d.planes = GetU16(dib + 12);
    d.bitCount = GetU16(dib + 14);
    d.compression = GetU32(dib + 16);
    d.sizeImage = GetU32(dib + 20);
    d.clrUsed = GetU32(dib + 32);
    d.clrImportant = GetU32(dib + 36);
    for (int i = 0; i < 256; i++) {
        const uint8_t *q = dib + DibHeaderSize + 4 * i;
        d.colours[i] = Rgb{q[2], q[1], q[0]};
    }
    d.bits = dib + DibBitsOffset;
    if (d.headerSize != DibHeaderSize)
        return Fail(error, "header size " + std::to_string(d.headerSize), 0);
    if (d.width <= 0 || d.height <= 0)
        return Fail(error, "not a bottom-up picture", 4);
    if (d.planes != 1 || d.bitCount != 8 || d.compression != BiRle8)
        return Fail(error, "not 8 bits per pixel BI_RLE8", 12);
    if (d.clrUsed != 256 || d.clrImportant != 256)
        return Fail(error, "colour counts not 256", 32);
    if (size != DibBitsOffset + d.sizeImage)
        return Fail(error, "size not 1064 + biSizeImage", size);
    *info = d;
    return true;
}
