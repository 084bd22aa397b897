// The sprite surface: the frame strip as a device bitmap selected with its
// palette into a memory DC, the per-frame outlines, and showing a frame
// (outline, position, paint).
#include "sprite/sprite.h"
#include "app/app.h"
#include "behaviour/behaviour.h"
#include "common/win32.h"
#include "resources/ids.h"
#include <cstdlib>

static HBITMAP SpriteBitmap;
static HPALETTE SpritePalette;
static HDC SpriteDC;
static FrameRegionEntry *FrameRegions;
static uint16_t FrameRegionCount; // entries in FrameRegions
static uint16_t StripFrames;      // whole frames in SpriteBitmap

namespace {
const int PaletteEntries = 256;
const size_t ColourTableOffset = 40; // behind a BITMAPINFOHEADER

// A resource's locked data and size, used in place; null when the module
// does not hold it.
const BYTE *LockedResource(HINSTANCE instance, LPCSTR name, LPCSTR type, DWORD *size)
{
    HRSRC found = FindResourceA(instance, name, type);
    HGLOBAL loaded = found ? LoadResource(instance, found) : nullptr;
    const BYTE *data = loaded ? static_cast<const BYTE *>(LockResource(loaded)) : nullptr;
    *size = data ? SizeofResource(instance, found) : 0;
    return data;
}

// A logical palette of 256 entries, in the layout CreatePalette reads.
struct Palette256 {
    WORD version;
    WORD count;
    PALETTEENTRY entries[PaletteEntries];
};
} // namespace

int LoadPaletteBitmap(HINSTANCE instance, UINT bitmapId, HBITMAP *outBitmap, HPALETTE *outPalette)
{
    Palette256 logical = {0x300, PaletteEntries, {}};
    if (!instance || bitmapId == 0)
        return 0;
    DWORD size;
    const BYTE *dib = LockedResource(instance, MAKEINTRESOURCEA(bitmapId & 0xFFFF),
                                     reinterpret_cast<LPCSTR>(RT_BITMAP), &size);
    if (!dib || !DibFits(dib, size))
        return 0;
    const BYTE *bits = DibBitsPointer(dib);

    for (int i = 0; i < PaletteEntries; ++i) {
        const BYTE *quad = dib + ColourTableOffset + 4 * i; // blue, green, red, reserved
        logical.entries[i] = PALETTEENTRY{quad[2], quad[1], quad[0], 0};
    }
    GdiObject<HPALETTE> palette(CreatePalette(reinterpret_cast<LOGPALETTE *>(&logical)));
    if (!palette)
        return 0;

    GdiObject<HBITMAP> bitmap;
    {
        WindowDC screen(nullptr);
        if (screen) {
            HPALETTE previous = SelectPalette(screen.Get(), palette.Get(), FALSE);
            if (RealizePalette(screen.Get()) != GDI_ERROR) {
                // The DIB's colours are mapped through the palette realised now.
                const BITMAPINFO *info = reinterpret_cast<const BITMAPINFO *>(dib);
                bitmap.Reset(CreateDIBitmap(screen.Get(), &info->bmiHeader, CBM_INIT, bits, info,
                                            DIB_RGB_COLORS));
            }
            SelectPalette(screen.Get(), previous, FALSE);
        }
    }
    if (!bitmap)
        return 0;
    // What the caller does not ask for is deleted here.
    if (outBitmap)
        *outBitmap = bitmap.Release();
    if (outPalette)
        *outPalette = palette.Release();
    return 1;
}

int LoadSpriteAssets(HWND window)
{
    char buffer[6];
    LoadText(IDS_FRAME_COUNT, buffer, sizeof buffer);
    if (buffer[0] == '\0')
        return 0;
    uint16_t frameCount = static_cast<uint16_t>(ParseDecimal(buffer));
    FrameRegionEntry *regions =
        static_cast<FrameRegionEntry *>(std::calloc(frameCount ? frameCount : 1, sizeof *regions));
    if (!regions)
        return 0;
    if (!LoadPaletteBitmap(AppInstance, IDB_FRAMES, &SpriteBitmap, &SpritePalette)) {
        std::free(regions);
        DestroyWindow(window);
        return 0;
    }

    DWORD tableSize;
    const BYTE *table = LockedResource(AppInstance, MAKEINTRESOURCEA(IDR_FRAME_REGIONS),
                                       MAKEINTRESOURCEA(RT_FRAME_REGIONS), &tableSize);
    IndexFrameRegions(table, tableSize, frameCount, regions);
    FrameRegions = regions;
    FrameRegionCount = frameCount;

    BITMAP strip = {};
    GetObjectA(SpriteBitmap, sizeof strip, &strip);
    long frames = FrameWidth ? strip.bmWidth / FrameWidth : 0;
    StripFrames = static_cast<uint16_t>(frames > 0xFFFF ? 0xFFFF : frames);

    {
        WindowDC screen(nullptr);
        SpriteDC = CreateCompatibleDC(screen.Get());
        ScreenWidth = static_cast<uint16_t>(GetDeviceCaps(screen.Get(), HORZRES));
        ScreenHeight = static_cast<uint16_t>(GetDeviceCaps(screen.Get(), VERTRES));
    }
    if (!SpriteDC)
        return 0;
    SelectPalette(SpriteDC, SpritePalette, FALSE);
    RealizePalette(SpriteDC);
    SelectObject(SpriteDC, SpriteBitmap);
    SetBkColor(SpriteDC, GetPixel(SpriteDC, 0, 0)); // the frames' background

    {
        WindowDC windowDC(window);
        SelectPalette(windowDC.Get(), SpritePalette, FALSE);
        RealizePalette(windowDC.Get());
    }

    // Centred; each half rounded down before the subtraction.
    CharacterRect.left = ScreenWidth / 2 - FrameWidth / 2;
    CharacterRect.right = CharacterRect.left + FrameWidth;
    CharacterRect.top = ScreenHeight / 2 - FrameHeight / 2;
    CharacterRect.bottom = CharacterRect.top + FrameHeight;
    AssetsReady = 1;
    return 1;
}

void PresentFrame(HWND window)
{
    if (!AssetsReady || CurrentFrame == 0 || CurrentFrame > FrameRegionCount)
        return;
    const FrameRegionEntry &entry = FrameRegions[CurrentFrame - 1];
    if (entry.length) { // an empty entry leaves the outline as it was
        GdiObject<HRGN> region(
            ExtCreateRegion(nullptr, entry.length, static_cast<const RGNDATA *>(entry.data)));
        if (region && SetWindowRgn(window, region.Get(), TRUE))
            region.Release(); // the window owns it now
    }
    InvalidateRect(window, nullptr, FALSE);
    SetWindowPos(window, nullptr, CharacterRect.left, CharacterRect.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
}

void PaintFrame(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    // One past the strip's end (the tick that ends a dance) shows its last frame.
    uint16_t frame = CurrentFrame > StripFrames ? StripFrames : CurrentFrame;
    if (dc && frame && SpriteDC) {
        SelectPalette(dc, SpritePalette, FALSE);
        RealizePalette(dc);
        BitBlt(dc, 0, 0, FrameWidth, FrameHeight, SpriteDC, FrameWidth * (frame - 1), 0, SRCCOPY);
    }
    EndPaint(window, &paint);
}

int RealizeSpritePalette(HWND window)
{
    if (!SpritePalette)
        return 0;
    int result;
    {
        WindowDC dc(window);
        if (!dc)
            return 0;
        HPALETTE previous = SelectPalette(dc.Get(), SpritePalette, FALSE);
        result = static_cast<int>(RealizePalette(dc.Get()));
        SelectPalette(dc.Get(), previous, FALSE);
    }
    if (result > 0) // GDI_ERROR is negative here
        InvalidateRect(window, nullptr, TRUE);
    return result;
}
