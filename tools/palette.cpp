#include "tools/palette.h"

namespace {

ColourTable MakeColours()
{
    ColourTable t{};
    auto set = [&](Colour c, int r, int g, int b) {
        t[c] = Rgb{uint8_t(r), uint8_t(g), uint8_t(b)};
    };
    set(Outline, 40, 30, 52);
    set(SkinLight, 255, 224, 194), set(Skin, 247, 190, 150), set(SkinShadow, 214, 146, 112);
    set(SkinFarLight, 232, 178, 140), set(SkinFar, 212, 152, 116);
    set(SkinFarShadow, 178, 116, 92);
    set(HairLight, 248, 160, 72), set(Hair, 220, 110, 44), set(HairShadow, 164, 70, 36);
    set(ShirtLight, 118, 222, 206), set(Shirt, 44, 176, 166), set(ShirtShadow, 26, 122, 126);
    set(ShirtFarLight, 44, 164, 156), set(ShirtFar, 30, 132, 130);
    set(ShirtFarShadow, 22, 96, 102);
    set(TrousersLight, 116, 146, 234), set(Trousers, 72, 100, 202);
    set(TrousersShadow, 46, 62, 142);
    set(TrousersFarLight, 66, 92, 184), set(TrousersFar, 50, 70, 154);
    set(TrousersFarShadow, 34, 46, 108);
    set(ShoeLight, 248, 108, 94), set(Shoe, 216, 56, 60), set(ShoeShadow, 150, 34, 50);
    set(ShoeFarLight, 204, 64, 64), set(ShoeFar, 172, 44, 54), set(ShoeFarShadow, 122, 28, 44);
    set(SoleLight, 246, 244, 238), set(Sole, 216, 214, 208), set(SoleShadow, 170, 168, 166);
    set(SoleFarLight, 204, 202, 198), set(SoleFar, 178, 176, 172);
    set(SoleFarShadow, 140, 138, 138);
    set(StarLight, 255, 240, 130), set(Star, 252, 208, 66), set(StarShadow, 216, 160, 40);
    set(EyeWhite, 252, 252, 246), set(Cheek, 246, 148, 148);
    set(Mouth, 158, 40, 64), set(Tongue, 238, 112, 122);
    set(SkyLight, 214, 238, 255), set(Sky, 186, 224, 252), set(SkyDeep, 156, 206, 246);
    set(GrassLight, 134, 212, 96), set(Grass, 96, 178, 72), set(GrassShadow, 62, 136, 58);
    set(Cloud, 250, 252, 255), set(CloudShadow, 222, 234, 246);
    set(Desktop, 0, 112, 120), set(SheetLine, 150, 160, 170);
    set(Background, 255, 255, 255);
    return t;
}

} // namespace

const ColourTable &NelkoColours()
{
    static const ColourTable colours = MakeColours();
    return colours;
}
