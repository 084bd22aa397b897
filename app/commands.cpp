// The command table shared by the popup menu and the voice commands.
#include "about/about.h"
#include "app/app.h"
#include "behaviour/behaviour.h"
#include "resources/ids.h"

HMENU PopupMenu;

const CommandHandler CommandHandlers[CommandTableSize] = {
    EnableRandomMode, // "Random"
    StartGoLeft,      // "Go Left"
    StartGoRight,     // "Go Right"
    StartRunLeft,     // "Run Left"
    StartRunRight,    // "Run Right"
    StartGoUp,        // "Go Up"
    StartGoDown,      // "Go Down"
    StartWave,        // "Wave"
    StartDance,       // "Dance"
    ShowAboutBox,     // "About Nelko"
    CloseCharacter,   // "Bye Bye"
};

int RunCommand(uint32_t n)
{
    if (n >= CommandCount || n >= CommandTableSize)
        return 0;
    CommandHandlers[n]();
    return 1;
}

int BuildPopupMenu()
{
    PopupMenu = CreatePopupMenu();
    if (!PopupMenu)
        return 0;
    for (UINT n = 0; n < CommandCount; ++n) {
        char label[64];
        if (!LoadText(IDS_COMMAND_FIRST + n, label, sizeof label))
            return 0;
        AppendMenuA(PopupMenu, MF_STRING, IDM_COMMAND_FIRST + n, label);
    }
    return 1;
}

void EnableRandomMode()
{
    RandomMode = 1;
    PickNow = 1;
}

void CloseCharacter()
{
    PostMessageA(MainWindow, WM_CLOSE, 0, 0);
}
