// Nelko's colours: one 256-entry table shared by the frame strip and the About
// picture. Index 117 is the white background of every frame; no part of the
// figure uses it.
#pragma once

#include "tools/image.h"

enum Colour : uint8_t {
    Unused = 0,
    Outline,
    SkinLight,
    Skin,
    SkinShadow,
    SkinFarLight,
    SkinFar,
    SkinFarShadow,
    HairLight,
    Hair,
    HairShadow,
    ShirtLight,
    Shirt,
    ShirtShadow,
    ShirtFarLight,
    ShirtFar,
    ShirtFarShadow,
    TrousersLight,
    Trousers,
    TrousersShadow,
    TrousersFarLight,
    TrousersFar,
    TrousersFarShadow,
    ShoeLight,
    Shoe,
    ShoeShadow,
    ShoeFarLight,
    ShoeFar,
    ShoeFarShadow,
    SoleLight,
    Sole,
    SoleShadow,
    SoleFarLight,
    SoleFar,
    SoleFarShadow,
    StarLight,
    Star,
    StarShadow,
    EyeWhite,
    Cheek,
    Mouth,
    Tongue,
    SkyLight,
    Sky,
    SkyDeep,
    GrassLight,
    Grass,
    GrassShadow,
    Cloud,
    CloudShadow,
    Desktop,
    SheetLine,
    ColourCount,
    Background = 117,
};
static_assert(ColourCount <= Background, "colours run into the background index");

// Three shades of one colour, lit from the upper left.
struct Ramp {
    uint8_t light, base, shadow;
};

const ColourTable &NelkoColours();
