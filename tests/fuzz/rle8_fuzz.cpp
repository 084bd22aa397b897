// The art tools' RLE8 decoder: a width and a height byte (1 to 256 each), then
// the bits. Whatever it decodes, the encoder writes again as bits it decodes
// to the same picture.
#include "tests/fuzz/fuzz.h"
#include "tools/dib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int width = 1 + data[0], height = 1 + data[1];
    IndexedImage image;
    std::string error;
    if (!DecodeRle8(data + 2, size - 2, width, height, &image, &error)) {
        Require(!error.empty(), "refused without saying why");
        return 0;
    }
    Require(image.width == width && image.height == height, "a picture of another size");
    const Bytes again = EncodeRle8(image);
    IndexedImage decoded;
    Require(DecodeRle8(again.data(), again.size(), width, height, &decoded, nullptr),
            "the encoder's bits refused");
    Require(decoded.pixels == image.pixels, "the encoder's bits are another picture");
    return 0;
}
