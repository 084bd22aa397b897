// Configuration and the character window.
#include "app/app.h"
#include "resources/ids.h"

static const char MainClassName[] = "KOV_DesktopToyClass";

// Reads a configuration number; 0 when the string is missing or empty.
static int LoadNumber(UINT id, uint16_t *value)
{
    char buffer[10];
    if (!LoadText(id, buffer, sizeof buffer) || buffer[0] == '\0')
        return 0;
    *value = static_cast<uint16_t>(ParseDecimal(buffer));
    return 1;
}

int RegisterMainClass(HINSTANCE instance)
{
    if (!LoadText(IDS_TITLE, WindowTitle, sizeof WindowTitle))
        return 0;
    if (!LoadNumber(IDS_COMMAND_COUNT, &CommandCount))
        return 0;
    // The command table has eleven rows: a larger count offers no more.
    if (CommandCount > CommandTableSize)
        CommandCount = CommandTableSize;
    if (!LoadNumber(IDS_FRAME_WIDTH, &FrameWidth) || !LoadNumber(IDS_FRAME_HEIGHT, &FrameHeight))
        return 0;

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    windowClass.lpszClassName = MainClassName;
    return RegisterClassA(&windowClass);
}

int CreateMainWindow(HINSTANCE instance, int /*show: the window always shows normally*/)
{
    AppInstance = instance;
    MainWindow =
        CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, MainClassName, WindowTitle, WS_POPUP, 0,
                        0, FrameWidth, FrameHeight, nullptr, nullptr, instance, nullptr);
    if (!MainWindow)
        return 0;
    ShowWindow(MainWindow, SW_SHOW);
    UpdateWindow(MainWindow);
    return 1;
}
