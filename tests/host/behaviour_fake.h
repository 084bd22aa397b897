// A recorded stand-in for the behaviour engine's platform calls: the window's
// rectangle, presenting a frame and playing a sound.
#pragma once
#include "behaviour/behaviour.h"
#include <vector>

struct PlatformCall {
    enum Kind { Present, Sound } kind;
    uint16_t frame;    // CurrentFrame at the call
    int32_t left, top; // CharacterRect's corner at the call
    uint16_t sound;    // WAVE id, for Sound
};

struct FakePlatform {
    RECT window{}; // the window's real rectangle; a present moves it to CharacterRect
    std::vector<PlatformCall> calls;
    int windowRectCalls = 0;

    void Place(int32_t left, int32_t top);
    std::vector<PlatformCall> Presents() const;
    std::vector<PlatformCall> Sounds() const;
};

extern FakePlatform Fake;
