// Sprite display: palette bitmaps, the frame region table, the sprite surface
// and showing a frame.
#pragma once
#include "app/platform.h"
#include <cstddef>
#include <cstdint>

// One frame's outline inside the frame region table resource: the byte count
// and address of its RGNDATA, as ExtCreateRegion takes them. Length 0: none.
struct FrameRegionEntry {
    uint32_t length;
    const void *data;
};

// DIB header arithmetic over a packed DIB in memory.
uint16_t DibColorCount(const void *dib);
uint16_t DibColorTableSize(const void *dib);
const BYTE *DibBitsPointer(const void *dib);
// 1 when a DIB of size bytes holds all the palette loader reads: 256 colour
// table entries from offset 40, and the bits (biSizeImage of them when
// run-length encoded, every row otherwise).
int DibFits(const void *dib, size_t size);

// Indexes count records of the table (size bytes) into entries. Stops at the
// end of the table or at a record whose header is not well formed; the
// entries not reached are left empty (length 0). Returns the records indexed.
uint16_t IndexFrameRegions(const void *table, size_t size, uint16_t count,
                           FrameRegionEntry *entries);

// Screen size at load time; read by the behaviour engine.
extern uint16_t ScreenWidth;
extern uint16_t ScreenHeight;
// 1 once LoadSpriteAssets has succeeded; the window procedure paints only then.
extern int AssetsReady;

#ifdef _WIN32
int LoadPaletteBitmap(HINSTANCE instance, UINT bitmapId, HBITMAP *outBitmap, HPALETTE *outPalette);
int LoadSpriteAssets(HWND window);
void PresentFrame(HWND window);
void PaintFrame(HWND window);
int RealizeSpritePalette(HWND window);
#endif
