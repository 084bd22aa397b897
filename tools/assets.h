// Everything the generator writes, built in memory: the resource files and,
// for people, the contact sheet's pictures.
#pragma once

#include "common/bytes.h"
#include "tools/image.h"

#include <string>
#include <vector>

struct AssetFile {
    std::string name;
    Bytes data;
};

// The files the resource script names, plus the raw pixels of both pictures
// (frames.pix, about.pix: one index per pixel, rows top-down) for the tests
// that compare them with what the platform decodes.
std::vector<AssetFile> BuildAssets();

// The icon's picture in its own 16 colours: indices 0-15, 0 transparent.
IndexedImage IconImage16(std::array<Rgb, 16> *colours);

// Pictures for people: sheet.bmp (every frame numbered, on a desktop colour),
// readme.bmp (a few poses side by side) and one strip per action
// (<action>.bmp, its ticks side by side, each the size of the ground the
// action covers) with <action>.txt giving that size.
std::vector<AssetFile> BuildContactSheet();
