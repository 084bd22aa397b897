// The entry point: start-up, the message loop and shut-down.
#include "app/app.h"
#include "common/win32.h"
#include "voice/voice.h"
#include <mmsystem.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int show)
{
    LoadDllsFromOwnFolders();
    if (!previous && !RegisterMainClass(instance))
        return 0;
    if (VoiceConnect())
        VoiceSetUp();
    // The sound driver loads on first use, which held back the first sound
    // by up to a few ticks; asking for the output devices loads it now.
    waveOutGetNumDevs();
    if (!CreateMainWindow(instance, show))
        return 0;

    MSG message = {};
    BOOL result;
    while ((result = GetMessageA(&message, nullptr, 0, 0)) != 0) {
        if (result == -1) // a broken queue ends the loop instead of spinning on it
            break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    VoiceDisconnect();
    return result == -1 ? 0 : static_cast<int>(message.wParam);
}
