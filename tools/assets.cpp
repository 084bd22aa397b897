#include "tools/assets.h"
#include "common/wave.h"
#include "tools/dib.h"
#include "tools/figure.h"
#include "tools/icon.h"
#include "tools/lettering.h"
#include "tools/palette.h"
#include "tools/regions.h"
#include "tools/sounds.h"

#include <algorithm>
#include <stdexcept>

IndexedImage IconImage16(std::array<Rgb, 16> *colours)
{
    IndexedImage face = DrawIconFace();
    // Slot 0 is the transparent one; the face's colours follow in index order.
    std::array<int, 256> slot;
    slot.fill(-1);
    colours->fill(Rgb{0, 0, 0});
    int used = 1;
    for (int index = 0; index < 256; index++)
        if (index != Background &&
            std::find(face.pixels.begin(), face.pixels.end(), index) != face.pixels.end()) {
            if (used == 16)
                throw std::runtime_error("the icon's face uses more than 15 colours");
            (*colours)[used] = NelkoColours()[index];
            slot[index] = used++;
        }
    for (uint8_t &p : face.pixels)
        p = p == Background ? 0 : static_cast<uint8_t>(slot[p]);
    return face;
}

std::vector<AssetFile> BuildAssets()
{
    IndexedImage strip = DrawFrameStrip(), about = DrawAboutPicture();
    std::array<Rgb, 16> iconColours;
    IndexedImage icon = IconImage16(&iconColours);
    return {
        {"frames.bmp", BuildBitmapFile(BuildRle8Dib(strip, NelkoColours()))},
        {"about.bmp", BuildBitmapFile(BuildRle8Dib(about, NelkoColours()))},
        {"regions.bin", RegionTableFromStrip(strip, StripFrameWidth, FrameCount)},
        {"waving.wav", BuildWave(PcmWaveFormat(GreetingRate, 1, 8), SynthesizeGreeting())},
        {"dancing.wav", BuildWave(PcmWaveFormat(JingleRate, 1, 8), SynthesizeJingle())},
        {"nelko.ico", BuildIcon16(icon, iconColours, 0)},
        {"frames.pix", strip.pixels},
        {"about.pix", about.pixels},
    };
}

namespace {

struct Tick {
    int frame, dx, dy; // where the window stands after this tick's move
};

struct Action {
    const char *name;
    std::vector<Tick> ticks;
};

// The ticks of an action as the character shows them: two passes of a walk
// or run with the window moving, one of the wave and the dance, then rest.
Action Moving(const char *name, FrameRun run, int step, int dx, int dy)
{
    Action a{name, {}};
    int x = 0, y = 0;
    for (int pass = 0; pass < 2; pass++)
        for (int k = 0; k < (run.last - run.first + 1) / step; k++) {
            x += dx, y += dy;
            int frame = run.first + (pass == 0 ? step - 1 : 0) + k * step;
            a.ticks.push_back(Tick{frame, x, y});
        }
    a.ticks.push_back(Tick{RestFrame, x, y});
    return a;
}

Action InPlace(const char *name, FrameRun run)
{
    Action a{name, {}};
    for (int f = run.first; f <= run.last; f++)
        a.ticks.push_back(Tick{f, 0, 0});
    a.ticks.push_back(Tick{RestFrame, 0, 0});
    return a;
}

// Copies a frame onto a picture, leaving out its background as the window's
// outline does.
void Place(IndexedImage &to, const IndexedImage &strip, int frame, int x, int y)
{
    for (int j = 0; j < StripFrameHeight; j++)
        for (int i = 0; i < StripFrameWidth; i++) {
            uint8_t p = strip.At(StripFrameWidth * (frame - 1) + i, j);
            if (p != Background && to.Inside(x + i, y + j))
                to.At(x + i, y + j) = p;
        }
}

} // namespace

std::vector<AssetFile> BuildContactSheet()
{
    IndexedImage strip = DrawFrameStrip();
    const int columns = 12, gap = 6, label = 12;
    const int rows = (FrameCount + columns - 1) / columns;
    const int cellW = StripFrameWidth + gap, cellH = StripFrameHeight + label + gap;
    IndexedImage sheet(columns * cellW + gap, rows * cellH + gap, Desktop);
    for (int frame = 1; frame <= FrameCount; frame++) {
        int x = gap + ((frame - 1) % columns) * cellW, y = gap + ((frame - 1) / columns) * cellH;
        DrawText(sheet, x, y, std::to_string(frame), EyeWhite);
        int top = y + label;
        for (int i = -1; i <= StripFrameWidth; i++)
            sheet.At(x + i, top - 1) = sheet.At(x + i, top + StripFrameHeight) = SheetLine;
        for (int j = -1; j <= StripFrameHeight; j++)
            sheet.At(x - 1, top + j) = sheet.At(x + StripFrameWidth, top + j) = SheetLine;
        Place(sheet, strip, frame, x, top);
    }
    std::vector<AssetFile> files = {
        {"sheet.bmp", BuildBitmapFile(BuildRle8Dib(sheet, NelkoColours()))}};

    // The README's picture: Nelko resting, walking, waving, dancing and hopping.
    const int poses[] = {RestFrame, 7, 56, 73, 78};
    IndexedImage row(gap + int(std::size(poses)) * (StripFrameWidth + gap),
                     StripFrameHeight + 2 * gap, Desktop);
    for (size_t i = 0; i < std::size(poses); i++)
        Place(row, strip, poses[i], gap + int(i) * (StripFrameWidth + gap), gap);
    files.push_back({"readme.bmp", BuildBitmapFile(BuildRle8Dib(row, NelkoColours()))});

    const Action actions[] = {
        Moving("go-right", WalkRightFrames, 1, 4, 0),
        Moving("go-left", WalkLeftFrames, 1, -4, 0),
        Moving("run-right", WalkRightFrames, 2, 12, 0),
        Moving("run-left", WalkLeftFrames, 2, -12, 0),
        Moving("go-down", WalkTowardsFrames, 1, 0, 4),
        Moving("go-up", WalkAwayFrames, 1, 0, -4),
        InPlace("wave", WaveFrames),
        InPlace("dance", DanceFrames),
    };
    for (const Action &a : actions) {
        int minX = 0, maxX = 0, minY = 0, maxY = 0;
        for (const Tick &t : a.ticks)
            minX = std::min(minX, t.dx), maxX = std::max(maxX, t.dx), minY = std::min(minY, t.dy),
            maxY = std::max(maxY, t.dy);
        int w = StripFrameWidth + maxX - minX, h = StripFrameHeight + maxY - minY;
        IndexedImage film(w * int(a.ticks.size()), h, Desktop);
        for (size_t k = 0; k < a.ticks.size(); k++)
            Place(film, strip, a.ticks[k].frame, int(k) * w + a.ticks[k].dx - minX,
                  a.ticks[k].dy - minY);
        files.push_back(
            {std::string(a.name) + ".bmp", BuildBitmapFile(BuildRle8Dib(film, NelkoColours()))});
        std::string size = std::to_string(w) + "x" + std::to_string(h) + "\n";
        files.push_back({std::string(a.name) + ".txt", Bytes(size.begin(), size.end())});
    }
    return files;
}
