// Keeps the character walking for the process benchmarks: "Go Right" and
// "Go Left" in turn, each as a walk (26 ticks) comes to rest.
#include "resources/ids.h"
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const DWORD WalkMs = 26 * 66 + 100;
    for (int turn = 0;; ++turn) {
        HWND character = FindWindowA("KOV_DesktopToyClass", nullptr);
        if (character)
            PostMessageA(character, WM_COMMAND, IDM_COMMAND_FIRST + (turn % 2 ? 1 : 2), 0);
        Sleep(WalkMs);
    }
}
