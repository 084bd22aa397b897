#include "tools/palette.h"

static ColourTable MakeColours()
{
    ColourTable t{};
    auto set = [&](Colour c, int r, int g, int b) {
        t[c] = Rgb{uint8_t(r), uint8_t(g), uint8_t(b)};
    };
    set(kOutline, 40, 30, 52);
    set(kSkinLight, 255, 224, 194), set(kSkin, 247, 190, 150), set(kSkinShadow, 214, 146, 112);
    set(kSkinFarLight, 232, 178, 140), set(kSkinFar, 212, 152, 116);
    set(kSkinFarShadow, 178, 116, 92);
    set(kHairLight, 248, 160, 72), set(kHair, 220, 110, 44), set(kHairShadow, 164, 70, 36);
    set(kShirtLight, 118, 222, 206), set(kShirt, 44, 176, 166), set(kShirtShadow, 26, 122, 126);
    set(kShirtFarLight, 44, 164, 156), set(kShirtFar, 30, 132, 130);
    set(kShirtFarShadow, 22, 96, 102);
    set(kTrousersLight, 116, 146, 234), set(kTrousers, 72, 100, 202);
    set(kTrousersShadow, 46, 62, 142);
    set(kTrousersFarLight, 66, 92, 184), set(kTrousersFar, 50, 70, 154);
    set(kTrousersFarShadow, 34, 46, 108);
    set(kShoeLight, 248, 108, 94), set(kShoe, 216, 56, 60), set(kShoeShadow, 150, 34, 50);
    set(kShoeFarLight, 204, 64, 64), set(kShoeFar, 172, 44, 54), set(kShoeFarShadow, 122, 28, 44);
    set(kSoleLight, 246, 244, 238), set(kSole, 216, 214, 208), set(kSoleShadow, 170, 168, 166);
    set(kSoleFarLight, 204, 202, 198), set(kSoleFar, 178, 176, 172);
    set(kSoleFarShadow, 140, 138, 138);
    set(kStarLight, 255, 240, 130), set(kStar, 252, 208, 66), set(kStarShadow, 216, 160, 40);
    set(kEyeWhite, 252, 252, 246), set(kCheek, 246, 148, 148);
    set(kMouth, 158, 40, 64), set(kTongue, 238, 112, 122);
    set(kSkyLight, 214, 238, 255), set(kSky, 186, 224, 252), set(kSkyDeep, 156, 206, 246);
    set(kGrassLight, 134, 212, 96), set(kGrass, 96, 178, 72), set(kGrassShadow, 62, 136, 58);
    set(kCloud, 250, 252, 255), set(kCloudShadow, 222, 234, 246);
    set(kDesktop, 0, 112, 120), set(kSheetLine, 150, 160, 170);
    set(kBackground, 255, 255, 255);
    return t;
}

const ColourTable &NelkoColours()
{
    static const ColourTable colours = MakeColours();
    return colours;
}
