// The About box: the About picture in a modal dialog sized to it and centred.
#pragma once
#include "app/platform.h"
#include <cstdint>

#ifdef _WIN32
void ShowAboutBox();
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void SizeAboutBox(HWND dialog, uint16_t width, uint16_t height);

// The open box's objects, created when it opens and deleted when it closes
// (all null while no box is open); read by the tests.
extern HBITMAP AboutBitmap;
extern HPALETTE AboutPalette;
extern HDC AboutDC;
extern int AboutPalettePending; // the next erase selects and realises AboutPalette
extern HWND AboutBox;           // the open box: only one at a time
#endif
