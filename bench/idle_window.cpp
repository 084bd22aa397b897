// The baseline for the process benchmarks: a do-nothing window of the
// character's size and kind, with the same 66 ms timer doing nothing.
#include <windows.h>

static void CALLBACK Nothing(HWND, UINT, UINT_PTR, DWORD) {}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "NelkoBaseline";
    if (!RegisterClassA(&windowClass))
        return 0;
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, "NelkoBaseline", "Baseline",
                                  WS_POPUP, 480, 320, 64, 128, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 0;
    ShowWindow(window, SW_SHOW);
    SetTimer(window, 1, 66, Nothing);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}
