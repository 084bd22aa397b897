// The resources as embedded in the program, read through the platform: the
// bitmaps decoded by GDI equal the generator's pixels colour for colour, the
// outline table agrees with the strip GDI decodes and makes real regions, and
// the sounds, icon and About template carry their fields.
#include "harness.h"
#include "resources/ids.h"
#include "tools/dib.h"
#include "tools/regions.h"
#include "common/frames.h"
#include "common/wave.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

const int StripFrameWidth = 64, StripFrameHeight = 128; // as the generator draws them

struct Found {
    const uint8_t *data = nullptr;
    DWORD size = 0;
};

Found Resource(UINT id, LPCSTR type)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (!found)
        return {};
    return {static_cast<const uint8_t *>(LockResource(LoadResource(module, found))),
            SizeofResource(module, found)};
}

// What the generator drew: one palette index per pixel, rows top-down,
// written beside the resource files it made.
std::vector<uint8_t> GeneratorPixels(const char *name)
{
    std::ifstream file(harness::TestDir() + "..\\..\\assets\\" + name, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
}

// The bitmap resource turned into a device bitmap by the platform's own
// BI_RLE8 decoder, read back as 0x00RRGGBB, rows top-down.
std::vector<uint32_t> DecodedByThePlatform(const Found &dib, const DibInfo &info)
{
    HDC screen = GetDC(nullptr);
    const BITMAPINFO *bmi = reinterpret_cast<const BITMAPINFO *>(dib.data);
    HBITMAP bitmap =
        CreateDIBitmap(screen, &bmi->bmiHeader, CBM_INIT, info.bits, bmi, DIB_RGB_COLORS);
    std::vector<uint32_t> pixels(size_t(info.width) * info.height, 0xFF00FF00);
    BITMAPINFO out = {};
    out.bmiHeader = {
        sizeof(BITMAPINFOHEADER), info.width, -info.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    int rows =
        bitmap ? GetDIBits(screen, bitmap, 0, info.height, pixels.data(), &out, DIB_RGB_COLORS) : 0;
    EXPECT_EQ(rows, info.height);
    if (bitmap)
        DeleteObject(bitmap);
    ReleaseDC(nullptr, screen);
    for (uint32_t &p : pixels)
        p &= 0xFFFFFF;
    return pixels;
}

uint32_t Packed(const Rgb &c)
{
    return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
}

struct Picture {
    Found resource;
    DibInfo info;
    std::vector<uint32_t> colours; // as decoded by the platform
};

Picture Load(UINT id)
{
    Picture p;
    p.resource = Resource(id, reinterpret_cast<LPCSTR>(RT_BITMAP));
    std::string error;
    EXPECT_TRUE(p.resource.data && ParseRle8Dib(p.resource.data, p.resource.size, &p.info, &error))
        << "bitmap " << id << ": " << error;
    if (::testing::Test::HasFailure())
        return p;
    p.colours = DecodedByThePlatform(p.resource, p.info);
    return p;
}

const Picture &Strip()
{
    static const Picture strip = Load(IDB_FRAMES);
    return strip;
}

} // namespace

TEST(EmbeddedArt, PlatformDecodesTheGeneratorsPixels)
{
    struct Case {
        UINT id;
        const char *pixels;
        int width, height;
    } cases[] = {
        {IDB_FRAMES, "frames.pix", 5504, 128},
        {IDB_ABOUT, "about.pix", 220, 128},
    };
    for (const Case &c : cases) {
        const Picture p = c.id == IDB_FRAMES ? Strip() : Load(c.id);
        ASSERT_FALSE(p.colours.empty()) << c.id;
        EXPECT_EQ(p.info.width, c.width);
        EXPECT_EQ(p.info.height, c.height);
        EXPECT_EQ(p.resource.size, 1064 + p.info.sizeImage) << c.id;
        std::vector<uint8_t> drawn = GeneratorPixels(c.pixels);
        ASSERT_EQ(drawn.size(), size_t(c.width) * c.height) << c.pixels;
        int wrong = 0, first = -1;
        for (size_t i = 0; i < drawn.size(); i++)
            if (p.colours[i] != Packed(p.info.colours[drawn[i]]) && wrong++ == 0)
                first = int(i);
        EXPECT_EQ(wrong, 0) << "bitmap " << c.id << ", first at x " << first % c.width << " y "
                            << first / c.width;
    }
    EXPECT_EQ(Strip().colours[0], 0xFFFFFFu) << "the strip's top-left pixel is white";
}

TEST(EmbeddedArt, OutlineTableMatchesTheStripThePlatformDecodes)
{
    const Picture &strip = Strip();
    ASSERT_FALSE(strip.colours.empty());
    Found table = Resource(IDR_FRAME_REGIONS, MAKEINTRESOURCEA(RT_FRAME_REGIONS));
    ASSERT_NE(table.data, nullptr);

    // Figure: every pixel whose colour differs from the top-left pixel's.
    std::vector<uint8_t> mask(strip.colours.size());
    for (size_t i = 0; i < mask.size(); i++)
        mask[i] = strip.colours[i] != strip.colours[0];
    Bytes rebuilt = RegionTableFromMask(mask.data(), strip.info.width, strip.info.height,
                                        StripFrameWidth, FrameCount);
    EXPECT_TRUE(rebuilt == Bytes(table.data, table.data + table.size));

    // The 86-record walk ends exactly at the resource's end, and each record
    // makes a region covering exactly its frame's figure pixels.
    size_t at = 0;
    for (int frame = 1; frame <= FrameCount; frame++) {
        RegionRecord r;
        std::string error;
        ASSERT_TRUE(ReadRegionRecord(table.data, table.size, at, &r, &error)) << error;
        EXPECT_EQ(CheckRegionRecord(r, StripFrameWidth, StripFrameHeight), "") << "frame " << frame;
        HRGN region = ExtCreateRegion(nullptr, r.length,
                                      reinterpret_cast<const RGNDATA *>(table.data + at + 4));
        ASSERT_NE(region, nullptr) << "frame " << frame;
        int wrong = 0;
        for (int y = 0; y < StripFrameHeight; y++)
            for (int x = 0; x < StripFrameWidth; x++)
                wrong +=
                    bool(PtInRegion(region, x, y)) !=
                    bool(mask[size_t(y) * strip.info.width + StripFrameWidth * (frame - 1) + x]);
        EXPECT_EQ(wrong, 0) << "frame " << frame;
        DeleteObject(region);
        at = r.next;
    }
    EXPECT_EQ(at, table.size);
}

TEST(EmbeddedArt, SoundsArePcmWaves)
{
    struct Case {
        UINT id;
        uint32_t rate, bytes;
    } cases[] = {
        {IDW_WAVING, 22255, 23296},
        {IDW_DANCING, 22050, 36096},
    };
    for (const Case &c : cases) {
        Found wave = Resource(c.id, "WAVE");
        ASSERT_NE(wave.data, nullptr) << c.id;
        WaveFile w;
        std::string error;
        ASSERT_TRUE(ParseWave(wave.data, wave.size, &w, &error)) << c.id << ": " << error;
        EXPECT_EQ(w.format.formatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(w.format.channels, 1);
        EXPECT_EQ(w.format.bitsPerSample, 8);
        EXPECT_EQ(w.format.samplesPerSecond, c.rate);
        EXPECT_EQ(w.format.bytesPerSecond, c.rate);
        EXPECT_EQ(w.format.blockAlign, 1);
        EXPECT_EQ(w.dataSize, c.bytes);
    }
}

TEST(EmbeddedArt, IconGroupHoldsOne32By32In16Colours)
{
    Found group = Resource(IDI_NELKO, reinterpret_cast<LPCSTR>(RT_GROUP_ICON));
    ASSERT_NE(group.data, nullptr);
    ASSERT_GE(group.size, 6u + 14);
    EXPECT_EQ(GetU16(group.data + 2), 1u) << "icon type";
    ASSERT_EQ(GetU16(group.data + 4), 1u) << "one image";
    const uint8_t *entry =
        group.data + 6; // width, height, colours, reserved, planes, bits, bytes, id
    EXPECT_EQ(entry[0], 32);
    EXPECT_EQ(entry[1], 32);
    EXPECT_EQ(entry[2], 16);
    EXPECT_EQ(GetU16(entry + 6), 4u);
    HICON icon = static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_NELKO), IMAGE_ICON, 32, 32, 0));
    ASSERT_NE(icon, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP mask = {};
    GetObjectA(info.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, 32);
    DeleteObject(info.hbmMask);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    DestroyIcon(icon);
}

TEST(EmbeddedArt, AboutTemplateHasItsFields)
{
    Found dialog = Resource(IDD_ABOUT, reinterpret_cast<LPCSTR>(RT_DIALOG));
    ASSERT_NE(dialog.data, nullptr);
    const uint8_t *p = dialog.data;
    EXPECT_EQ(GetU32(p), 0x80C800C0u)
        << "WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT";
    EXPECT_EQ(GetU32(p + 4), 0u) << "extended style";
    EXPECT_EQ(GetU16(p + 8), 0u) << "controls";
    EXPECT_EQ(GetU16(p + 10), 0u);
    EXPECT_EQ(GetU16(p + 12), 0u);
    EXPECT_EQ(GetU16(p + 14), 186u);
    EXPECT_EQ(GetU16(p + 16), 95u);
    // Then menu and class (both none), caption, point size and face, in UTF-16.
    const uint16_t *w = reinterpret_cast<const uint16_t *>(p + 18);
    EXPECT_EQ(w[0], 0) << "no menu";
    EXPECT_EQ(w[1], 0) << "the standard dialog class";
    auto text = [&](size_t &i) {
        std::string s;
        while (w[i])
            s += char(w[i++]);
        i++;
        return s;
    };
    size_t i = 2;
    EXPECT_EQ(text(i), "About Nelko");
    EXPECT_EQ(w[i++], 8) << "point size";
    EXPECT_EQ(text(i), "MS Sans Serif");
}
