// The sprite display under Wine, on the real frame strip and outline table:
// the palette bitmap, each frame's outline against the strip's pixels, and a
// window shaped, moved and painted frame by frame.
#include "app/app.h"
#include "behaviour/behaviour.h"
#include "resources/ids.h"
#include "sprite/sprite.h"
#include <gtest/gtest.h>
#include <cstring>
#include <vector>

namespace {
const int StripWidth = 5504, StripHeight = 128, Frames = 86, Width = 64, Height = 128;
const uint32_t Untouched = 0xFF00FF00; // what the decoder left alone

const BYTE *Resource(UINT id, LPCSTR type, DWORD *size)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (!found)
        return nullptr;
    *size = SizeofResource(module, found);
    return static_cast<const BYTE *>(LockResource(LoadResource(module, found)));
}

const BYTE *Strip(DWORD *size)
{
    return Resource(IDB_FRAMES, reinterpret_cast<LPCSTR>(RT_BITMAP), size);
}

// A 32-bit top-down DIB section, 0xXXRRGGBB per pixel.
struct Canvas {
    int width, height;
    HDC dc = CreateCompatibleDC(nullptr);
    uint32_t *pixels = nullptr;
    HBITMAP bitmap = nullptr, old = nullptr;
    Canvas(int w, int h) : width(w), height(h)
    {
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void *bits = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        pixels = static_cast<uint32_t *>(bits);
        old = static_cast<HBITMAP>(SelectObject(dc, bitmap));
        std::fill(pixels, pixels + w * h, Untouched);
    }
    ~Canvas()
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    uint32_t At(int x, int y) const { return pixels[y * width + x] & 0xFFFFFF; }
};

// The strip decoded by the system's own run-length decoder: each pixel's
// colour, or with `indices`, its palette index (as the red byte).
std::vector<uint32_t> DecodeStrip(bool indices)
{
    DWORD size = 0;
    const BYTE *dib = Strip(&size);
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } info;
    std::memcpy(&info, dib, sizeof info);
    if (indices)
        for (int i = 0; i < 256; ++i)
            info.colours[i] = RGBQUAD{0, 0, static_cast<BYTE>(i), 0};
    Canvas canvas(StripWidth, StripHeight);
    SetDIBitsToDevice(canvas.dc, 0, 0, StripWidth, StripHeight, 0, 0, 0, StripHeight,
                      dib + sizeof info, reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS);
    std::vector<uint32_t> out(canvas.pixels, canvas.pixels + StripWidth * StripHeight);
    return out;
}

// The outline of frame n (1-based) from the strip: every pixel whose palette
// index differs from the strip's top-left pixel, in frame coordinates.
HRGN OutlineFromPixels(const std::vector<uint32_t> &indices, int n)
{
    uint32_t background = indices[0];
    HRGN outline = CreateRectRgn(0, 0, 0, 0);
    for (int y = 0; y < Height; ++y) {
        const uint32_t *row = &indices[y * StripWidth + (n - 1) * Width];
        for (int x = 0; x < Width;) {
            if (row[x] == background) {
                ++x;
                continue;
            }
            int start = x;
            while (x < Width && row[x] != background)
                ++x;
            HRGN run = CreateRectRgn(start, y, x, y + 1);
            CombineRgn(outline, outline, run, RGN_OR);
            DeleteObject(run);
        }
    }
    return outline;
}

// Colours come out exactly only on a true colour display; a palette device
// shows the nearest colours it has.
bool TrueColour()
{
    HDC screen = GetDC(nullptr);
    bool palette = (GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE) != 0;
    ReleaseDC(nullptr, screen);
    return !palette;
}

std::vector<FrameRegionEntry> IndexTable(uint16_t count, uint16_t *indexed)
{
    DWORD size = 0;
    const BYTE *table = Resource(IDR_FRAME_REGIONS, MAKEINTRESOURCEA(RT_FRAME_REGIONS), &size);
    std::vector<FrameRegionEntry> entries(count);
    *indexed = IndexFrameRegions(table, table ? size : 0, count, entries.data());
    return entries;
}
} // namespace

TEST(PaletteBitmap, RefusesWhatItCannotLoad)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(0x1234);
    HPALETTE palette = reinterpret_cast<HPALETTE>(0x5678);
    struct Case {
        const char *what;
        HINSTANCE instance;
        UINT id;
    } cases[] = {
        {"no module", nullptr, IDB_FRAMES},
        {"bitmap id 0", module, 0},
        {"a bitmap the module does not hold", module, 3999},
        {"an id that is no bitmap (the region table's)", module, IDR_FRAME_REGIONS},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(LoadPaletteBitmap(c.instance, c.id, &bitmap, &palette), 0) << c.what;
        EXPECT_EQ(bitmap, reinterpret_cast<HBITMAP>(0x1234)) << c.what;
        EXPECT_EQ(palette, reinterpret_cast<HPALETTE>(0x5678)) << c.what;
    }
}

TEST(PaletteBitmap, FrameStripPaletteAndPixels)
{
    DWORD size = 0;
    const BYTE *dib = Strip(&size);
    ASSERT_NE(dib, nullptr);
    const BITMAPINFOHEADER *header = reinterpret_cast<const BITMAPINFOHEADER *>(dib);
    ASSERT_EQ(header->biWidth, StripWidth);
    ASSERT_EQ(header->biCompression, static_cast<DWORD>(BI_RLE8));
    EXPECT_EQ(size, 1064 + header->biSizeImage);
    EXPECT_EQ(DibBitsPointer(dib) - dib, 1064);

    HBITMAP bitmap = nullptr;
    HPALETTE palette = nullptr;
    ASSERT_EQ(LoadPaletteBitmap(GetModuleHandleA(nullptr), IDB_FRAMES, &bitmap, &palette), 1);
    PALETTEENTRY entries[257] = {};
    ASSERT_EQ(GetPaletteEntries(palette, 0, 257, entries), 256u);
    for (int i = 0; i < 256; ++i) {
        const BYTE *quad = dib + 40 + 4 * i; // blue, green, red, reserved
        EXPECT_EQ(entries[i].peRed, quad[2]) << "entry " << i;
        EXPECT_EQ(entries[i].peGreen, quad[1]) << "entry " << i;
        EXPECT_EQ(entries[i].peBlue, quad[0]) << "entry " << i;
        EXPECT_EQ(entries[i].peFlags, 0) << "entry " << i;
    }
    EXPECT_EQ(RGB(entries[117].peRed, entries[117].peGreen, entries[117].peBlue),
              RGB(255, 255, 255));

    BITMAP shape = {};
    GetObjectA(bitmap, sizeof shape, &shape);
    EXPECT_EQ(shape.bmWidth, StripWidth);
    EXPECT_EQ(shape.bmHeight, StripHeight);
    // The device bitmap shows the DIB's pixels in its colour table's colours
    // (exactly so only on a true colour display).
    if (TrueColour()) {
        std::vector<uint32_t> expected = DecodeStrip(false);
        Canvas canvas(StripWidth, StripHeight);
        HDC source = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(source, bitmap);
        BitBlt(canvas.dc, 0, 0, StripWidth, StripHeight, source, 0, 0, SRCCOPY);
        SelectObject(source, old);
        DeleteDC(source);
        int wrong = 0;
        for (int y = 0; y < StripHeight; ++y)
            for (int x = 0; x < StripWidth; ++x) {
                uint32_t want = expected[y * StripWidth + x] & 0xFFFFFF;
                if (canvas.At(x, y) != want && wrong++ < 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex
                                  << canvas.At(x, y) << " instead of " << want;
            }
        EXPECT_EQ(wrong, 0);
    }
    DeleteObject(bitmap);
    DeleteObject(palette);

    // Without places for them the objects are made, used and deleted.
    EXPECT_EQ(LoadPaletteBitmap(GetModuleHandleA(nullptr), IDB_FRAMES, &bitmap, nullptr), 1);
    DeleteObject(bitmap);
    EXPECT_EQ(LoadPaletteBitmap(GetModuleHandleA(nullptr), IDB_FRAMES, nullptr, nullptr), 1);
}

// The outline table holds exactly one record per frame, and record i covers
// exactly the figure's pixels of frame i + 1.
TEST(FrameRegionTable, OutlinesMatchTheStrip)
{
    uint16_t indexed = 0;
    std::vector<FrameRegionEntry> entries = IndexTable(Frames + 1, &indexed);
    EXPECT_EQ(indexed, Frames); // the walk ends at the table's end
    EXPECT_EQ(entries[Frames].length, 0u);

    std::vector<uint32_t> indices = DecodeStrip(true);
    ASSERT_EQ(indices[0] & 0xFFFFFF, 117u << 16) << "the background is palette index 117";
    for (int n = 1; n <= indexed; ++n) {
        const FrameRegionEntry &entry = entries[n - 1];
        HRGN stored =
            ExtCreateRegion(nullptr, entry.length, static_cast<const RGNDATA *>(entry.data));
        ASSERT_NE(stored, nullptr) << "frame " << n;
        HRGN drawn = OutlineFromPixels(indices, n);
        EXPECT_TRUE(EqualRgn(stored, drawn)) << "frame " << n;
        RECT bounds;
        EXPECT_NE(GetRgnBox(stored, &bounds), NULLREGION) << "frame " << n;
        EXPECT_TRUE(bounds.left >= 0 && bounds.top >= 0 && bounds.right <= Width &&
                    bounds.bottom <= Height)
            << "frame " << n;
        DeleteObject(stored);
        DeleteObject(drawn);
    }
}

namespace {
// A character-sized window whose palette messages and paints go through the
// character window's procedure, with the sprite assets loaded once per process.
LRESULT CALLBACK SpriteWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
    case WM_QUERYNEWPALETTE:
    case WM_PALETTECHANGED: return MainWindowProc(window, message, wParam, lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeWindow(const char *title)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = SpriteWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "NelkoSpriteTest";
    RegisterClassA(&windowClass); // fails harmlessly the second time
    HWND window =
        CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, "NelkoSpriteTest", title, WS_POPUP, 0, 0,
                        Width, Height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    return window;
}

void Pump()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

struct SpriteWindow : ::testing::Test {
    static HWND window;
    static int loaded;
    static void SetUpTestSuite()
    {
        AppInstance = GetModuleHandleA(nullptr);
        FrameWidth = Width, FrameHeight = Height;
        window = MakeWindow("sprite");
        loaded = LoadSpriteAssets(window);
    }
    void SetUp() override
    {
        ASSERT_EQ(loaded, 1);
        ASSERT_EQ(AssetsReady, 1);
    }
    // The window's picture, read back from its device context.
    static std::vector<uint32_t> Picture()
    {
        Canvas canvas(Width, Height);
        HDC dc = GetDC(window);
        BitBlt(canvas.dc, 0, 0, Width, Height, dc, 0, 0, SRCCOPY);
        ReleaseDC(window, dc);
        std::vector<uint32_t> out;
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                out.push_back(canvas.At(x, y));
        return out;
    }
    // Frame n's colours inside its outline (elsewhere the window is not shown).
    static void ExpectShowsFrame(int n, const char *what)
    {
        if (!TrueColour())
            return; // the nearest colours a palette device has
        static std::vector<uint32_t> colours = DecodeStrip(false);
        static std::vector<uint32_t> indices = DecodeStrip(true);
        std::vector<uint32_t> picture = Picture();
        int wrong = 0;
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x) {
                size_t at = y * StripWidth + (n - 1) * Width + x;
                if (indices[at] == indices[0])
                    continue;
                if (picture[y * Width + x] != (colours[at] & 0xFFFFFF) && wrong++ < 3)
                    ADD_FAILURE() << what << ": pixel " << x << "," << y << " " << std::hex
                                  << picture[y * Width + x] << " instead of " << colours[at];
            }
        EXPECT_EQ(wrong, 0) << what;
    }
    static bool NeedsPaint() { return GetUpdateRect(window, nullptr, FALSE) != 0; }
};
HWND SpriteWindow::window;
int SpriteWindow::loaded;
} // namespace

TEST_F(SpriteWindow, LoadsCentredOnTheScreen)
{
    HDC screen = GetDC(nullptr);
    int width = GetDeviceCaps(screen, HORZRES), height = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(ScreenWidth, width);
    EXPECT_EQ(ScreenHeight, height);
    EXPECT_EQ(CharacterRect.left, width / 2 - Width / 2);
    EXPECT_EQ(CharacterRect.top, height / 2 - Height / 2);
    EXPECT_EQ(CharacterRect.right, CharacterRect.left + Width);
    EXPECT_EQ(CharacterRect.bottom, CharacterRect.top + Height);
}

TEST_F(SpriteWindow, PresentShapesMovesAndRepaints)
{
    std::vector<uint32_t> indices = DecodeStrip(true);
    for (int n : {1, 2, 13, 56, 85, 86}) {
        SCOPED_TRACE(::testing::Message() << "frame " << n);
        Pump();
        CurrentFrame = static_cast<uint16_t>(n);
        CharacterRect = RECT{100 + n, 60, 0, 0}; // only left and top are read
        PresentFrame(window);
        RECT rect;
        GetWindowRect(window, &rect);
        EXPECT_EQ(rect.left, 100 + n);
        EXPECT_EQ(rect.top, 60);
        EXPECT_EQ(rect.right - rect.left, Width);
        EXPECT_EQ(rect.bottom - rect.top, Height);
        HRGN shape = CreateRectRgn(0, 0, 0, 0), drawn = OutlineFromPixels(indices, n);
        EXPECT_NE(GetWindowRgn(window, shape), ERROR);
        EXPECT_TRUE(EqualRgn(shape, drawn));
        DeleteObject(shape);
        DeleteObject(drawn);
        EXPECT_TRUE(NeedsPaint());
        UpdateWindow(window);
        EXPECT_FALSE(NeedsPaint());
        ExpectShowsFrame(n, "painted");
    }
}

TEST_F(SpriteWindow, FrameZeroChangesNothing)
{
    CurrentFrame = 30;
    CharacterRect = RECT{200, 100, 0, 0};
    PresentFrame(window);
    UpdateWindow(window);
    Pump();
    RECT before;
    GetWindowRect(window, &before);

    CurrentFrame = 0;
    CharacterRect = RECT{300, 300, 0, 0};
    PresentFrame(window);
    RECT after;
    GetWindowRect(window, &after);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
    EXPECT_FALSE(NeedsPaint());
    HRGN shape = CreateRectRgn(0, 0, 0, 0);
    HRGN drawn = OutlineFromPixels(DecodeStrip(true), 30);
    GetWindowRgn(window, shape);
    EXPECT_TRUE(EqualRgn(shape, drawn)); // still frame 30's outline
    DeleteObject(shape);
    DeleteObject(drawn);

    // A paint with no frame only validates the window; the picture stays.
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    EXPECT_FALSE(NeedsPaint());
    ExpectShowsFrame(30, "frame 0 painted");
}

// On the tick that ends a dance the frame is one past the strip: nothing is
// shaped or moved, and a paint shows the strip's last frame.
TEST_F(SpriteWindow, OnePastTheLastFrame)
{
    CurrentFrame = 70;
    CharacterRect = RECT{150, 90, 0, 0};
    PresentFrame(window);
    UpdateWindow(window);
    RECT before;
    GetWindowRect(window, &before);

    CurrentFrame = Frames + 1;
    CharacterRect = RECT{400, 400, 0, 0};
    PresentFrame(window);
    RECT after;
    GetWindowRect(window, &after);
    EXPECT_EQ(after.left, before.left);
    EXPECT_FALSE(NeedsPaint());
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    HRGN everything = CreateRectRgn(0, 0, Width, Height);
    SetWindowRgn(window, everything, TRUE); // show the whole cell
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    ExpectShowsFrame(Frames, "one past the end");
}

// The palette messages reach RealizeSpritePalette directly. Its result is
// the number of entries newly mapped: none on a true colour display, and none
// either on a palette device once the sprite palette has been realised (the
// loader has done so); the window is repainted exactly when entries were
// mapped. A palette change made by the window itself is ignored.
TEST_F(SpriteWindow, PaletteMessages)
{
    HDC screen = GetDC(nullptr);
    bool paletteDevice = (GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE) != 0;
    ReleaseDC(nullptr, screen);
    HWND other = MakeWindow("other");
    struct Case {
        const char *what;
        UINT message;
        HWND changedBy;
    } cases[] = {
        {"query new palette", WM_QUERYNEWPALETTE, nullptr},
        {"palette changed by another window", WM_PALETTECHANGED, other},
        {"palette changed by this window", WM_PALETTECHANGED, window},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Pump();
        ValidateRect(window, nullptr);
        LRESULT mapped = SendMessageA(window, c.message, reinterpret_cast<WPARAM>(c.changedBy), 0);
        EXPECT_GE(mapped, 0);
        EXPECT_EQ(NeedsPaint(), mapped > 0);
        if (!paletteDevice || c.changedBy == window) {
            EXPECT_EQ(mapped, 0);
        }
    }
    DestroyWindow(other);
}
