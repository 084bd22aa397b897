// The About box under Wine: its size and place, its objects' lifetime, the
// palette on the first erase only, and one box at a time.
#include "about/about.h"
#include "app/app.h"
#include "harness.h"
#include <functional>
#include <gtest/gtest.h>

namespace {

// Runs check inside the modal loop of the About box, then closes the box
// with close (a message to the box).
std::function<void(HWND)> WhileOpen;
bool Opened;
UINT CloseMessage;
WPARAM CloseParam;

void CALLBACK OnTimer(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    HWND box = AboutBox;
    Opened = box != nullptr;
    ASSERT_NE(box, nullptr) << "no About box is open";
    WhileOpen(box);
    PostMessageA(box, CloseMessage, CloseParam, 0);
}

void RunAboutBox(std::function<void(HWND)> check, UINT close = WM_LBUTTONUP, WPARAM param = 0)
{
    WhileOpen = std::move(check);
    CloseMessage = close;
    CloseParam = param;
    Opened = false;
    AppInstance = GetModuleHandleA(nullptr);
    SetTimer(nullptr, 0, 300, OnTimer);
    ShowAboutBox();
    EXPECT_TRUE(Opened) << "the About box did not open";
}

BOOL CALLBACK CountAboutBoxes(HWND window, LPARAM count)
{
    char caption[32];
    if (GetWindowTextA(window, caption, sizeof caption) && lstrcmpA(caption, "About Nelko") == 0)
        ++*reinterpret_cast<int *>(count);
    return TRUE;
}

struct Objects {
    HBITMAP bitmap;
    HPALETTE palette;
    HDC dc;
};

} // namespace

TEST(AboutBox, SizedToThePictureAndCentred)
{
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  nullptr, nullptr);
    SizeAboutBox(window, 220, 128);
    RECT rect;
    GetWindowRect(window, &rect);
    int width = 220 + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    int height = 128 + 2 * GetSystemMetrics(SM_CYDLGFRAME) - GetSystemMetrics(SM_CYBORDER) +
                 GetSystemMetrics(SM_CYCAPTION);
    EXPECT_EQ(rect.right - rect.left, width);
    EXPECT_EQ(rect.bottom - rect.top, height);
    EXPECT_EQ(rect.left, GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2);
    EXPECT_EQ(rect.top, GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2);
    if (GetSystemMetrics(SM_CXSCREEN) == 1024 && GetSystemMetrics(SM_CYSCREEN) == 768 &&
        GetSystemMetrics(SM_CXDLGFRAME) == 3 && GetSystemMetrics(SM_CYCAPTION) == 19) {
        EXPECT_EQ(rect.left, 399); // Wine's metrics on a 1024x768 display
        EXPECT_EQ(rect.top, 308);
        EXPECT_EQ(rect.right - rect.left, 226);
        EXPECT_EQ(rect.bottom - rect.top, 152);
    }
    DestroyWindow(window);
}

TEST(AboutBox, OpenCloseOpenLeavesNoObjectsBehind)
{
    for (int round = 0; round < 2; ++round) {
        Objects held = {};
        RunAboutBox([&](HWND box) {
            held = {AboutBitmap, AboutPalette, AboutDC};
            EXPECT_EQ(GetObjectType(held.bitmap), static_cast<DWORD>(OBJ_BITMAP));
            EXPECT_EQ(GetObjectType(held.palette), static_cast<DWORD>(OBJ_PAL));
            EXPECT_EQ(GetObjectType(held.dc), static_cast<DWORD>(OBJ_MEMDC));
            char caption[32];
            GetWindowTextA(box, caption, sizeof caption);
            EXPECT_STREQ(caption, "About Nelko");
            RECT client;
            GetClientRect(box, &client);
            EXPECT_EQ(client.right, 220);
        });
        EXPECT_EQ(GetObjectType(held.bitmap), 0u) << "round " << round;
        EXPECT_EQ(GetObjectType(held.palette), 0u) << "round " << round;
        EXPECT_EQ(GetObjectType(held.dc), 0u) << "round " << round;
        EXPECT_EQ(AboutBox, nullptr);
    }
}

TEST(AboutBox, EscapeClosesTheBox)
{
    RunAboutBox([](HWND) {}, WM_COMMAND, IDCANCEL);
    EXPECT_EQ(AboutBox, nullptr);
    EXPECT_EQ(AboutDC, nullptr);
}

TEST(AboutBox, OnlyTheFirstEraseSelectsThePalette)
{
    RunAboutBox([](HWND box) {
        EXPECT_EQ(AboutPalettePending, 0) << "the box was erased once when it opened";
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ before = GetCurrentObject(dc, OBJ_PAL);
        AboutDialogProc(box, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        EXPECT_EQ(GetCurrentObject(dc, OBJ_PAL), before) << "a later erase selected the palette";

        AboutPalettePending = 1; // as right after opening
        EXPECT_TRUE(AboutDialogProc(box, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0));
        EXPECT_EQ(GetCurrentObject(dc, OBJ_PAL), AboutPalette);
        EXPECT_EQ(AboutPalettePending, 0);
        SelectPalette(dc, static_cast<HPALETTE>(before), FALSE);
        DeleteDC(dc);
    });
}

TEST(AboutBox, ASecondAboutCommandBringsTheOpenBoxForward)
{
    RunAboutBox([](HWND box) {
        ShowAboutBox(); // returns at once instead of opening over the same slots
        EXPECT_EQ(AboutBox, box);
        int boxes = 0;
        EnumThreadWindows(GetCurrentThreadId(), CountAboutBoxes, reinterpret_cast<LPARAM>(&boxes));
        EXPECT_EQ(boxes, 1);
    });
}

TEST(AboutBox, WithoutItsPictureClosesAtOnceHoldingNothing)
{
    std::string path = harness::Variant("noabout");
    HMODULE strings = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(strings, nullptr);
    AppInstance = strings;
    // The box opens (its template is there), finds no picture and ends itself
    // with result 0: no timer closes it here.
    EXPECT_EQ(DialogBoxParamA(strings, MAKEINTRESOURCEA(101), nullptr, AboutDialogProc, 0), 0);
    EXPECT_EQ(AboutBox, nullptr);
    EXPECT_EQ(AboutDC, nullptr);
    EXPECT_EQ(AboutBitmap, nullptr);
    EXPECT_EQ(AboutPalette, nullptr);
    AppInstance = nullptr;
    FreeLibrary(strings);
}
