// Nelko's colours: one 256-entry table shared by the frame strip and the About
// picture. Index 117 is the white background of every frame; no part of the
// figure uses it.
#pragma once

#include "tools/image.h"

enum Colour : uint8_t {
    kUnused = 0,
    kOutline,
    kSkinLight,
    kSkin,
    kSkinShadow,
    kSkinFarLight,
    kSkinFar,
    kSkinFarShadow,
    kHairLight,
    kHair,
    kHairShadow,
    kShirtLight,
    kShirt,
    kShirtShadow,
    kShirtFarLight,
    kShirtFar,
    kShirtFarShadow,
    kTrousersLight,
    kTrousers,
    kTrousersShadow,
    kTrousersFarLight,
    kTrousersFar,
    kTrousersFarShadow,
    kShoeLight,
    kShoe,
    kShoeShadow,
    kShoeFarLight,
    kShoeFar,
    kShoeFarShadow,
    kSoleLight,
    kSole,
    kSoleShadow,
    kSoleFarLight,
    kSoleFar,
    kSoleFarShadow,
    kStarLight,
    kStar,
    kStarShadow,
    kEyeWhite,
    kCheek,
    kMouth,
    kTongue,
    kSkyLight,
    kSky,
    kSkyDeep,
    kGrassLight,
    kGrass,
    kGrassShadow,
    kCloud,
    kCloudShadow,
    kDesktop,
    kSheetLine,
    kColourCount,
    kBackground = 117,
};
static_assert(kColourCount <= kBackground, "colours run into the background index");

// Three shades of one colour, lit from the upper left.
struct Ramp {
    uint8_t light, base, shadow;
};

const ColourTable &NelkoColours();
