// An 8-bit indexed picture, rows top-down, and its 256-colour table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};

typedef std::array<Rgb, 256> ColourTable;

struct IndexedImage {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels; // width * height, row 0 at the top

    IndexedImage() = default;
    IndexedImage(int w, int h, uint8_t fill) : width(w), height(h), pixels(size_t(w) * h, fill) {}
    uint8_t At(int x, int y) const { return pixels[size_t(y) * width + x]; }
    uint8_t &At(int x, int y) { return pixels[size_t(y) * width + x]; }
    bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};
