// The character window's procedure: deferred set-up, painting, pointer and
// keyboard input, menu commands and palette messages.
#include "app/app.h"
#include "behaviour/behaviour.h"
#include "resources/ids.h"
#include "sprite/sprite.h"

constexpr UINT DeferredSetUpMessage = WM_USER;

static void OnDeferredSetUp(HWND window)
{
    LoadSpriteAssets(window);
    BuildPopupMenu();
    SeedRandom();
    SetTimer(window, BehaviourTimerId, BehaviourTimerInterval, BehaviourTick);
}

static void OnPaint(HWND window)
{
    if (AssetsReady) {
        PaintFrame(window);
        return;
    }
    // Validate the window even with nothing to draw, or the paint requests
    // never stop and starve the timer.
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
}

static void OnKeyDown(HWND window, WPARAM key)
{
    if (key == VK_ESCAPE)
        PostMessageA(window, WM_CLOSE, 0, 0);
}

static void OnCommand(WPARAM id)
{
    if (id < IDM_COMMAND_FIRST || id >= static_cast<WPARAM>(IDM_COMMAND_FIRST) + CommandCount)
        return;
    RandomMode = 0;
    RunCommand(static_cast<uint32_t>(id - IDM_COMMAND_FIRST));
}

static void OnMouseMove(HWND window, WPARAM keys, LPARAM position)
{
    int32_t dx, dy;
    if (!PointerMoved(static_cast<uint32_t>(keys), static_cast<uint32_t>(position), &dx, &dy))
        return;
    RECT rect;
    GetWindowRect(window, &rect);
    SetWindowPos(window, nullptr, rect.left + dx, rect.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

static void OnLeftButtonDown(HWND window)
{
    ReturnToRest();
    SetCapture(window);
}

static void OnLeftButtonUp(HWND window)
{
    if (!Dragging)
        StartDance();
    GetWindowRect(window, &CharacterRect);
    ReleaseCapture();
    Dragging = 0;
}

static void OnRightButtonDown(HWND window)
{
    POINT point;
    GetCursorPos(&point);
    TrackPopupMenu(PopupMenu, 0, point.x, point.y, 0, window, nullptr);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: PostMessageA(window, DeferredSetUpMessage, 0, 0); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_PAINT: OnPaint(window); return 0;
    case WM_KEYDOWN: OnKeyDown(window, wParam); return 0;
    case WM_COMMAND: OnCommand(wParam); return 0;
    case WM_MOUSEMOVE: OnMouseMove(window, wParam, lParam); return 0;
    case WM_LBUTTONDOWN: OnLeftButtonDown(window); return 0;
    case WM_LBUTTONUP: OnLeftButtonUp(window); return 0;
    case WM_RBUTTONDOWN: OnRightButtonDown(window); return 0;
    case WM_QUERYNEWPALETTE: return RealizeSpritePalette(window);
    case WM_PALETTECHANGED:
        return reinterpret_cast<HWND>(wParam) == window ? 0 : RealizeSpritePalette(window);
    case DeferredSetUpMessage: OnDeferredSetUp(window); return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
