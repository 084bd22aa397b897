// Every timer the feedback window runs, numbered once here so that no two
// collide. Its messages from other threads are registered ones (hub.h).
#pragma once
#include <windows.h>

enum FeedbackTimer : UINT_PTR {
    GraceTimer = 1, // hidden with no service: the time left before the hub ends
    MeterTimer,     // the level meter and the level the services are given
    PauseTimer,     // Hold mode, the key up: the time left before the microphone pauses
};
