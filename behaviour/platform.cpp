// The behaviour engine's platform calls in the program.
#include "behaviour/behaviour.h"
#include "app/app.h"
#include "sprite/sprite.h"

void BehaviourWindowRect(HWND window, RECT *rect)
{
    GetWindowRect(window, rect);
}

void BehaviourPresent(HWND window)
{
    PresentFrame(window);
}

void BehaviourPlaySound(uint16_t waveId)
{
    PlaySoundA(MAKEINTRESOURCEA(waveId), AppInstance, SND_RESOURCE | SND_ASYNC);
}
