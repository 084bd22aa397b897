#include "character.h"

#include "tools/dib.h"
#include <fstream>
#include <iterator>
#include <algorithm>
#include <stdexcept>

namespace e2e {

namespace {

constexpr uint8_t BackgroundIndex = 117;

IndexedImage ReadPicture(const std::string &path, ColourTable *colours)
{
    std::ifstream file(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() < BitmapFileHeaderSize)
        throw std::runtime_error("cannot read " + path);
    DibInfo info;
    std::string error;
    const uint8_t *dib = bytes.data() + BitmapFileHeaderSize;
    size_t size = bytes.size() - BitmapFileHeaderSize;
    IndexedImage image;
    if (!ParseRle8Dib(dib, size, &info, &error) ||
        !DecodeRle8(info.bits, info.sizeImage, info.width, info.height, &image, &error))
        throw std::runtime_error(path + ": " + error);
    *colours = info.colours;
    return image;
}

uint32_t Pack(const Rgb &c)
{
    return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
}

} // namespace

Art::Art()
{
    ColourTable colours;
    IndexedImage strip = ReadPicture(Win32Dir() + "/assets/frames.bmp", &colours);
    stripWidth_ = strip.width;
    for (uint8_t index : strip.pixels)
        strip_.push_back(index == BackgroundIndex ? Desktop : Pack(colours[index]));
    IndexedImage about = ReadPicture(Win32Dir() + "/assets/about.bmp", &colours);
    aboutWidth_ = about.width, aboutHeight_ = about.height;
    for (uint8_t index : about.pixels)
        about_.push_back(Pack(colours[index]));
}

uint32_t Art::FramePixel(int n, int x, int y) const
{
    return strip_[size_t(y) * stripWidth_ + (n - 1) * FrameWidth + x];
}

uint32_t Art::AboutPixel(int x, int y) const
{
    return about_[size_t(y) * aboutWidth_ + x];
}

int Art::Mismatches(const Image &screen, int n, int limit) const
{
    int mismatches = 0;
    for (int y = 0; y < FrameHeight; ++y)
        for (int x = 0; x < FrameWidth; ++x)
            if (screen.pixels[size_t(y) * screen.width + x] != FramePixel(n, x, y) &&
                ++mismatches > limit)
                return mismatches;
    return mismatches;
}

bool Art::Shows(const Image &screen, int n) const
{
    return screen.width == FrameWidth && screen.height == FrameHeight &&
           Mismatches(screen, n, 0) == 0;
}

std::vector<int> Art::Candidates(const Image &screen) const
{
    std::vector<int> frames;
    if (screen.width != FrameWidth || screen.height != FrameHeight)
        return frames;
    for (int n = 1; n <= FrameCount; ++n)
        if (Mismatches(screen, n, 0) == 0)
            frames.push_back(n);
    return frames;
}

int Art::Identify(const Image &screen) const
{
    std::vector<int> frames = Candidates(screen);
    return frames.empty() ? 0 : frames.front();
}

Character::Character(Session &session, const std::string &program) : session_(session)
{
    session_.SetRootColour(Desktop);
    pid_ = session_.Start(program);
    window_ = session_.FindWindow("Nelko");
    if (!window_)
        throw std::runtime_error("Nelko did not show its window; " + session_.Describe());
}

bool Character::WaitForRest(const Art &art, int stillMs, int timeoutMs)
{
    Rect last = {-1, -1, 0, 0};
    int still = 0;
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        Rect now = Where();
        bool resting = now.x == last.x && now.y == last.y && Frame(art) == RestFrame;
        still = resting ? still + 50 : 0;
        if (still >= stillMs)
            return true;
        last = now;
        Session::Sleep(50);
    }
    return false;
}

void Character::PointOnFigure(int *x, int *y)
{
    Rect where = Where();
    Rect best;
    for (const Rect &r : session_.Shape(window_))
        if (r.width * r.height > best.width * best.height)
            best = r;
    *x = where.x + best.x + best.width / 2;
    *y = where.y + best.y + best.height / 2;
}

void Character::Drag(int dx, int dy, int steps)
{
    int x, y;
    PointOnFigure(&x, &y);
    session_.MovePointer(x, y);
    Session::Sleep(100);
    session_.Press(1);
    Session::Sleep(80);
    for (int step = 1; step <= steps; ++step) {
        session_.MovePointer(x + dx * step / steps, y + dy * step / steps);
        Session::Sleep(40);
    }
    Session::Sleep(200);
    session_.Release(1);
}

Rect Character::OpenMenu(int *pointerX, int *pointerY)
{
    std::vector<Window> before = session_.TopLevelWindows();
    int x, y;
    PointOnFigure(&x, &y);
    session_.Click(x, y, 3);
    Window menu = 0;
    session_.WaitFor(
        [&] {
            for (Window w : session_.TopLevelWindows())
                if (std::find(before.begin(), before.end(), w) == before.end() &&
                    session_.Title(w) != "Nelko")
                    return (menu = w) != 0;
            return false;
        },
        5000);
    if (!menu)
        throw std::runtime_error("no popup menu appeared after a right click at " +
                                 std::to_string(x) + "," + std::to_string(y) + "; " +
                                 session_.Describe());
    Session::Sleep(200);
    if (pointerX)
        *pointerX = x, *pointerY = y;
    return session_.Geometry(menu);
}

void Character::Pick(int index)
{
    Rect menu = OpenMenu();
    session_.Click(menu.x + menu.width / 2, menu.y + (2 * index + 1) * menu.height / 22);
}

} // namespace e2e
