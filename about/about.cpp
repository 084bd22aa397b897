// The About box. Its objects live in one set of slots, so only one box is
// open at a time: a second About command brings the open one to the front.
#include "about/about.h"
#include "app/app.h"
#include "resources/ids.h"
#include "sprite/sprite.h"

HBITMAP AboutBitmap;
HPALETTE AboutPalette;
HDC AboutDC;
int AboutPalettePending;
HWND AboutBox;
static BITMAP AboutBitmapInfo;
static HPALETTE AboutPreviousPalette;
static HGDIOBJ AboutPreviousBitmap;

void ShowAboutBox()
{
    if (AboutBox) {
        SetForegroundWindow(AboutBox);
        BringWindowToTop(AboutBox);
        return;
    }
    DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_ABOUT), GetActiveWindow(), AboutDialogProc,
                    0);
}

void SizeAboutBox(HWND dialog, uint16_t width, uint16_t height)
{
    int boxWidth = width + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    int boxHeight = height + 2 * GetSystemMetrics(SM_CYDLGFRAME) - GetSystemMetrics(SM_CYBORDER) +
                    GetSystemMetrics(SM_CYCAPTION);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int x = screenWidth / 2 - boxWidth / 2;
    int y = screenHeight / 2 - boxHeight / 2;
    MoveWindow(dialog, x, y, boxWidth, boxHeight, FALSE);
}

static void OnInitDialog(HWND dialog)
{
    AboutPalettePending = 1;
    // Without its picture the box has nothing to show and holds nothing.
    if (!LoadPaletteBitmap(AppInstance, IDB_ABOUT, &AboutBitmap, &AboutPalette)) {
        EndDialog(dialog, 0);
        return;
    }
    GetObjectA(AboutBitmap, sizeof AboutBitmapInfo, &AboutBitmapInfo);
    AboutDC = CreateCompatibleDC(nullptr);
    AboutPreviousPalette = SelectPalette(AboutDC, AboutPalette, FALSE);
    RealizePalette(AboutDC);
    AboutPreviousBitmap = SelectObject(AboutDC, AboutBitmap);
    SizeAboutBox(dialog, static_cast<uint16_t>(AboutBitmapInfo.bmWidth),
                 static_cast<uint16_t>(AboutBitmapInfo.bmHeight));
    AboutBox = dialog;
}

static BOOL OnEraseBackground(HDC dc)
{
    if (!AboutDC)
        return FALSE;
    if (AboutPalettePending) {
        AboutPalettePending = 0;
        SelectPalette(dc, AboutPalette, FALSE);
        RealizePalette(dc);
    }
    BitBlt(dc, 0, 0, AboutBitmapInfo.bmWidth, AboutBitmapInfo.bmHeight, AboutDC, 0, 0, SRCCOPY);
    return TRUE;
}

static void CloseAboutBox(HWND dialog)
{
    AboutPalettePending = 1;
    if (AboutDC) {
        SelectObject(AboutDC, AboutPreviousBitmap);
        SelectPalette(AboutDC, AboutPreviousPalette, FALSE);
        DeleteObject(AboutBitmap);
        DeleteObject(AboutPalette);
        DeleteDC(AboutDC);
    }
    AboutBitmap = nullptr;
    AboutPalette = nullptr;
    AboutDC = nullptr;
    AboutBox = nullptr;
    EndDialog(dialog, 1);
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: OnInitDialog(dialog); return FALSE;
    case WM_ERASEBKGND: return OnEraseBackground(reinterpret_cast<HDC>(wParam));
    case WM_COMMAND:
    case WM_LBUTTONUP: CloseAboutBox(dialog); return TRUE;
    }
    return FALSE;
}
