// One whole tick with the real frame display under Wine: the behaviour step,
// PresentFrame (outline, invalidation, move) and the paint that follows.
#include "app/app.h"
#include "behaviour/behaviour.h"
#include "resources/ids.h"
#include "sprite/sprite.h"
#include <cstdio>

static LRESULT CALLBACK BenchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT && AssetsReady) {
        PaintFrame(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME &t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) *
               1e-7;
    };
    return seconds(kernel) + seconds(user);
}

static void Pump()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

int main()
{
    AppInstance = GetModuleHandleA(nullptr);
    char text[10];
    LoadText(IDS_FRAME_WIDTH, text, sizeof text);
    FrameWidth = static_cast<uint16_t>(ParseDecimal(text));
    LoadText(IDS_FRAME_HEIGHT, text, sizeof text);
    FrameHeight = static_cast<uint16_t>(ParseDecimal(text));

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = BenchWindowProc;
    windowClass.hInstance = AppInstance;
    windowClass.lpszClassName = "NelkoTickBench";
    RegisterClassA(&windowClass);
    MainWindow =
        CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, "NelkoTickBench", "bench", WS_POPUP, 0, 0,
                        FrameWidth, FrameHeight, nullptr, nullptr, AppInstance, nullptr);
    ShowWindow(MainWindow, SW_SHOW);
    if (!MainWindow || !LoadSpriteAssets(MainWindow)) {
        std::printf("the sprite assets did not load\n");
        return 1;
    }
    Pump();

    const int Ticks = 1000;
    bool left = false;
    double start = ProcessCpuSeconds();
    DWORD wallStart = GetTickCount();
    for (int i = 0; i < Ticks; ++i) {
        if (BehaviourState == Idle) {
            left ? StartGoLeft() : StartGoRight();
            left = !left;
        }
        BehaviourTick(MainWindow, WM_TIMER, BehaviourTimerId, 0);
        Pump(); // the paint the present asked for
    }
    double cpu = ProcessCpuSeconds() - start;
    DWORD wall = GetTickCount() - wallStart;
    std::printf("one walking tick with PresentFrame and its paint: %.3f ms CPU (process), "
                "%.3f ms wall, over %d ticks\n",
                cpu * 1000.0 / Ticks, wall / static_cast<double>(Ticks), Ticks);
    return 0;
}
