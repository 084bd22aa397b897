// The generated resources: their forms, the pixel rule between the strip and
// the outlines, what the art must hold for the window (no holes, no halo,
// inside the frame, loops that close), the sounds and the icon.
#include "common/wave.h"
#include "tools/assets.h"
#include "tools/dib.h"
#include "tools/figure.h"
#include "tools/icon.h"
#include "tools/palette.h"
#include "tools/regions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

const std::vector<AssetFile> &Assets()
{
    static const std::vector<AssetFile> assets = BuildAssets();
    return assets;
}

const Bytes &File(const std::string &name)
{
    for (const AssetFile &f : Assets())
        if (f.name == name)
            return f.data;
    static const Bytes none;
    ADD_FAILURE() << "no " << name;
    return none;
}

// A bitmap file's picture, checked for the resource form on the way.
IndexedImage Decode(const std::string &name, DibInfo *info)
{
    const Bytes &file = File(name);
    std::string error;
    IndexedImage image;
    EXPECT_TRUE(ParseRle8Dib(file.data() + BitmapFileHeaderSize, file.size() - BitmapFileHeaderSize,
                             info, &error))
        << name << ": " << error;
    EXPECT_TRUE(DecodeRle8(info->bits, info->sizeImage, info->width, info->height, &image, &error))
        << name << ": " << error;
    return image;
}

const IndexedImage &Strip()
{
    static const IndexedImage strip = [] {
        DibInfo info;
        return Decode("frames.bmp", &info);
    }();
    return strip;
}

uint8_t At(int frame, int x, int y)
{
    return Strip().At(StripFrameWidth * (frame - 1) + x, y);
}

struct Box {
    int left = StripFrameWidth, top = StripFrameHeight, right = 0,
        bottom = 0; // right, bottom exclusive
};

Box FigureBox(int frame)
{
    Box b;
    for (int y = 0; y < StripFrameHeight; y++)
        for (int x = 0; x < StripFrameWidth; x++)
            if (At(frame, x, y) != Background)
                b.left = std::min(b.left, x), b.top = std::min(b.top, y),
                b.right = std::max(b.right, x + 1), b.bottom = std::max(b.bottom, y + 1);
    return b;
}

int Difference(int a, int b)
{
    int n = 0;
    for (int y = 0; y < StripFrameHeight; y++)
        for (int x = 0; x < StripFrameWidth; x++)
            n += At(a, x, y) != At(b, x, y);
    return n;
}

} // namespace

TEST(Assets, TwoBuildsAreIdentical)
{
    std::vector<AssetFile> again = BuildAssets();
    ASSERT_EQ(again.size(), Assets().size());
    for (size_t i = 0; i < again.size(); i++) {
        EXPECT_EQ(again[i].name, Assets()[i].name);
        EXPECT_TRUE(again[i].data == Assets()[i].data) << again[i].name << " differs";
    }
}

TEST(Assets, BitmapsHaveTheResourceForm)
{
    struct Case {
        const char *bitmap, *pixels;
        int width, height;
    } cases[] = {
        {"frames.bmp", "frames.pix", StripFrameWidth * FrameCount, StripFrameHeight}, // 5504 x 128
        {"about.bmp", "about.pix", AboutWidth, AboutHeight},
    };
    for (const Case &c : cases) {
        DibInfo info;
        IndexedImage image = Decode(c.bitmap, &info);
        EXPECT_EQ(info.width, c.width) << c.bitmap;
        EXPECT_EQ(info.height, c.height) << c.bitmap;
        EXPECT_EQ(File(c.bitmap).size(), BitmapFileHeaderSize + DibBitsOffset + info.sizeImage)
            << c.bitmap;
        // Only the background is pure white, so colours name indices unambiguously.
        EXPECT_EQ(info.colours[Background], (Rgb{255, 255, 255}));
        EXPECT_EQ(std::count(info.colours.begin(), info.colours.end(), Rgb{255, 255, 255}), 1)
            << c.bitmap;
        // The raw pixels the Windows tests compare with are these.
        EXPECT_TRUE(File(c.pixels) == image.pixels) << c.pixels;
    }
}

TEST(Assets, RegionTableWalksToItsEndAndKeepsTheInvariants)
{
    const Bytes &table = File("regions.bin");
    size_t at = 0;
    for (int frame = 1; frame <= FrameCount; frame++) {
        RegionRecord r;
        std::string error;
        ASSERT_TRUE(ReadRegionRecord(table.data(), table.size(), at, &r, &error))
            << "frame " << frame << ": " << error;
        EXPECT_EQ(at % 4, 0u) << "frame " << frame << " record not on a 4-byte boundary";
        EXPECT_EQ(CheckRegionRecord(r, StripFrameWidth, StripFrameHeight), "") << "frame " << frame;
        EXPECT_GT(r.nCount, 0u) << "frame " << frame;
        at = r.next;
    }
    EXPECT_EQ(at, table.size()) << "86 records must fill the table exactly";
    // The table agrees with the strip as decoded, by the pixel rule.
    EXPECT_TRUE(RegionTableFromStrip(Strip(), StripFrameWidth, FrameCount) == table);
}

TEST(Assets, BackgroundIndexOnlyOutsideTheFigure)
{
    // Drawn on another background, a frame changes exactly where it holds
    // index 117: no part of the figure (eyes included) uses it, so nothing
    // inside the figure becomes a hole in the window.
    for (int frame = 1; frame <= FrameCount; frame++) {
        ASSERT_EQ(At(frame, 0, 0), Background) << "frame " << frame;
        IndexedImage other = DrawFrame(frame, Desktop);
        int wrong = 0;
        for (int y = 0; y < StripFrameHeight; y++)
            for (int x = 0; x < StripFrameWidth; x++)
                wrong += (At(frame, x, y) == Background) != (other.At(x, y) == Desktop) ||
                         (At(frame, x, y) != Background && other.At(x, y) != At(frame, x, y));
        EXPECT_EQ(wrong, 0) << "frame " << frame;
    }
    // And the About picture, shown whole, has no background index in it.
    DibInfo info;
    IndexedImage about = Decode("about.bmp", &info);
    EXPECT_EQ(std::count(about.pixels.begin(), about.pixels.end(), Background), 0);
}

TEST(Assets, NoPinholes)
{
    // Background the figure closes in is a real gap (between an arm and the
    // body), never a speck where two parts nearly touch.
    for (int frame = 1; frame <= FrameCount; frame++) {
        std::vector<int> pocket(StripFrameWidth * StripFrameHeight, -1);
        std::vector<int> sizes;
        std::vector<bool> open;
        for (int y0 = 0; y0 < StripFrameHeight; y0++)
            for (int x0 = 0; x0 < StripFrameWidth; x0++) {
                if (pocket[y0 * StripFrameWidth + x0] >= 0 || At(frame, x0, y0) != Background)
                    continue;
                int id = int(sizes.size());
                sizes.push_back(0), open.push_back(false);
                std::vector<std::pair<int, int>> todo{{x0, y0}};
                pocket[y0 * StripFrameWidth + x0] = id;
                while (!todo.empty()) {
                    auto [x, y] = todo.back();
                    todo.pop_back();
                    sizes[id]++;
                    open[id] = open[id] || x == 0 || y == 0 || x == StripFrameWidth - 1 ||
                               y == StripFrameHeight - 1;
                    for (auto [nx, ny] : {std::pair{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}})
                        if (nx >= 0 && ny >= 0 && nx < StripFrameWidth && ny < StripFrameHeight &&
                            pocket[ny * StripFrameWidth + nx] < 0 &&
                            At(frame, nx, ny) == Background)
                            pocket[ny * StripFrameWidth + nx] = id, todo.push_back({nx, ny});
                }
            }
        for (size_t id = 0; id < sizes.size(); id++)
            EXPECT_TRUE(open[id] || sizes[id] >= SmallestGap)
                << "frame " << frame << ": a pocket of " << sizes[id] << " pixels";
    }
}

TEST(Assets, FigureIsOutlinedAgainstTheDesktop)
{
    // Every figure pixel next to the background is the dark outline, so no
    // light fringe shows against a dark desktop.
    for (int frame = 1; frame <= FrameCount; frame++) {
        int fringe = 0;
        for (int y = 0; y < StripFrameHeight; y++)
            for (int x = 0; x < StripFrameWidth; x++) {
                if (At(frame, x, y) == Background)
                    continue;
                bool edge = false;
                for (auto [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
                    int nx = x + dx, ny = y + dy;
                    edge = edge || nx < 0 || ny < 0 || nx >= StripFrameWidth ||
                           ny >= StripFrameHeight || At(frame, nx, ny) == Background;
                }
                fringe += edge && At(frame, x, y) != Outline;
            }
        EXPECT_EQ(fringe, 0) << "frame " << frame;
    }
}

TEST(Assets, FigureStandsInsideTheFrame)
{
    for (int frame = 1; frame <= FrameCount; frame++) {
        Box b = FigureBox(frame);
        EXPECT_GE(b.left, 1) << "frame " << frame;
        EXPECT_LE(b.right, StripFrameWidth - 1) << "frame " << frame;
        EXPECT_GE(b.top, 1) << "frame " << frame;
        EXPECT_LE(b.bottom, StripFrameHeight) << "frame " << frame;
        EXPECT_GE(b.bottom, StripFrameHeight - 6)
            << "frame " << frame << " floats above the bottom";
        EXPECT_GE(b.bottom - b.top, 112) << "frame " << frame;
    }
    Box rest = FigureBox(RestFrame);
    EXPECT_GE(rest.bottom - rest.top, 115);
    EXPECT_LE(rest.bottom - rest.top, 125);
    EXPECT_GE(rest.bottom, StripFrameHeight - 3) << "standing on the bottom";
}

TEST(Assets, CyclesCloseSmoothly)
{
    // From the last frame of a cycle back to its first is no bigger a change
    // than the steps inside the cycle; the same for a run's every other frame.
    struct Case {
        const char *what;
        int first, step;
    } cases[] = {
        {"walking right", 1, 1}, {"walking left", 13, 1}, {"walking down", 25, 1},
        {"walking up", 37, 1},   {"running right", 1, 2}, {"running left", 13, 2},
    };
    for (const Case &c : cases) {
        for (int start = 0; start < c.step; start++) {
            std::vector<int> frames;
            for (int k = start; k < 12; k += c.step)
                frames.push_back(c.first + k);
            int largest = 0, smallest = StripFrameWidth * StripFrameHeight;
            for (size_t i = 0; i + 1 < frames.size(); i++) {
                largest = std::max(largest, Difference(frames[i], frames[i + 1]));
                smallest = std::min(smallest, Difference(frames[i], frames[i + 1]));
            }
            int closing = Difference(frames.back(), frames.front());
            EXPECT_LE(closing, largest * 11 / 10) << c.what;
            EXPECT_GT(smallest, 0) << c.what << ": two frames of the cycle are the same";
        }
    }
    // The dance settles into the rest frame, which is its last: the step into
    // it is the smallest of the dance. The wave lowers the arm again: its
    // last frame is nearer rest than its biggest step.
    int smallestDanceStep = StripFrameWidth * StripFrameHeight, biggestWaveStep = 0;
    for (int f = 67; f < 85; f++)
        smallestDanceStep = std::min(smallestDanceStep, Difference(f, f + 1));
    for (int f = 49; f < 66; f++)
        biggestWaveStep = std::max(biggestWaveStep, Difference(f, f + 1));
    EXPECT_LT(Difference(85, RestFrame), smallestDanceStep);
    EXPECT_LT(Difference(66, RestFrame), biggestWaveStep / 2);
}

TEST(Assets, AboutPictureBottomRowIsPlainGround)
{
    DibInfo info;
    IndexedImage about = Decode("about.bmp", &info);
    for (int x = 1; x < AboutWidth; x++)
        ASSERT_EQ(about.At(x, AboutHeight - 1), about.At(0, AboutHeight - 1)) << "x " << x;
    // Whatever the box cuts off is not part of Nelko or the lettering.
    int row = AboutHeight - 2, same = 0;
    for (int x = 0; x < AboutWidth; x++)
        same += about.At(x, row) == about.At(0, AboutHeight - 1);
    EXPECT_EQ(same, AboutWidth) << "the row above the last is plain ground too";
}

TEST(Assets, SoundsHaveTheirFormatsAndStayClean)
{
    struct Case {
        const char *name;
        uint32_t rate, bytes;
    } cases[] = {
        {"waving.wav", 22255, 23296},
        {"dancing.wav", 22050, 36096},
    };
    for (const Case &c : cases) {
        const Bytes &file = File(c.name);
        WaveFile w;
        std::string error;
        ASSERT_TRUE(ParseWave(file.data(), file.size(), &w, &error)) << c.name << ": " << error;
        EXPECT_EQ(w.format.formatTag, WaveFormatPcm) << c.name;
        EXPECT_EQ(w.format.channels, 1) << c.name;
        EXPECT_EQ(w.format.samplesPerSecond, c.rate) << c.name;
        EXPECT_EQ(w.format.bytesPerSecond, c.rate) << c.name;
        EXPECT_EQ(w.format.blockAlign, 1) << c.name;
        EXPECT_EQ(w.format.bitsPerSample, 8) << c.name;
        EXPECT_EQ(w.dataSize, c.bytes) << c.name;
        EXPECT_EQ(w.declaredDataSize, c.bytes) << c.name;
        EXPECT_EQ(w.riffSize, 36 + c.bytes) << c.name;
        EXPECT_EQ(file.size(), 44 + c.bytes) << c.name;
        const uint8_t *s = w.samples;
        // No clipping; silence around 128 at both ends (no clicks); and a real sound.
        EXPECT_EQ(*std::min_element(s, s + c.bytes) > 0 && *std::max_element(s, s + c.bytes) < 255,
                  true)
            << c.name;
        int edge = c.rate / 100, loudest = 0;
        for (uint32_t i = 0; i < c.bytes; i++) {
            int level = std::abs(int(s[i]) - 128);
            loudest = std::max(loudest, level);
            if (i < 8 || i >= c.bytes - 8) {
                EXPECT_LE(level, 1) << c.name << " sample " << i;
            } else if (i < uint32_t(edge) || i >= c.bytes - edge) {
                EXPECT_LE(level, 12) << c.name << " sample " << i;
            }
        }
        EXPECT_GE(loudest, 90) << c.name;
    }
}

TEST(Assets, IconIsNelkosFaceIn16Colours)
{
    const Bytes &file = File("nelko.ico");
    IconInfo icon;
    std::string error;
    ASSERT_TRUE(ParseIcon16(file.data(), file.size(), &icon, &error)) << error;
    EXPECT_EQ(icon.width, 32);
    EXPECT_EQ(icon.height, 32);
    EXPECT_EQ(icon.colourCount, 16);
    EXPECT_EQ(icon.bitCount, 4);
    EXPECT_EQ(icon.planes, 1);
    // Transparent corners, an opaque middle, and the mask agrees with slot 0.
    EXPECT_EQ(icon.mask.At(0, 0), 1);
    EXPECT_EQ(icon.mask.At(31, 31), 1);
    EXPECT_EQ(icon.mask.At(16, 16), 0);
    int opaque = 0;
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++) {
            EXPECT_EQ(icon.mask.At(x, y) == 1, icon.pixels.At(x, y) == 0) << x << ", " << y;
            opaque += !icon.mask.At(x, y);
        }
    EXPECT_GT(opaque, 32 * 32 / 2) << "the face fills most of the icon";
    std::array<Rgb, 16> colours;
    EXPECT_TRUE(IconImage16(&colours).pixels == icon.pixels.pixels);
    EXPECT_TRUE(colours == icon.colours);
}
