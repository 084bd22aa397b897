// The behaviour engine's platform calls, recorded for the host tests.
#include "behaviour_fake.h"
#include "app/app.h"

FakePlatform Fake;

void FakePlatform::Place(int32_t left, int32_t top)
{
    window = RECT{left, top, left + FrameWidth, top + FrameHeight};
}

std::vector<PlatformCall> FakePlatform::Presents() const
{
    std::vector<PlatformCall> out;
    for (const PlatformCall &call : calls)
        if (call.kind == PlatformCall::Present)
            out.push_back(call);
    return out;
}

std::vector<PlatformCall> FakePlatform::Sounds() const
{
    std::vector<PlatformCall> out;
    for (const PlatformCall &call : calls)
        if (call.kind == PlatformCall::Sound)
            out.push_back(call);
    return out;
}

void BehaviourWindowRect(HWND, RECT *rect)
{
    ++Fake.windowRectCalls;
    *rect = Fake.window;
}

void BehaviourPresent(HWND)
{
    Fake.calls.push_back(
        {PlatformCall::Present, CurrentFrame, CharacterRect.left, CharacterRect.top, 0});
    Fake.Place(CharacterRect.left, CharacterRect.top);
}

void BehaviourPlaySound(uint16_t waveId)
{
    Fake.calls.push_back(
        {PlatformCall::Sound, CurrentFrame, CharacterRect.left, CharacterRect.top, waveId});
}
