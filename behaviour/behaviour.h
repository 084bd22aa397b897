// The behaviour engine: the random source and the timer-driven state machine.
#pragma once
#include "app/platform.h"
#include "common/frames.h"
#include <cstdint>

enum : uint8_t {
    Idle = 0,
    ReturningToRest = 1,
    GoingLeft = 2,
    GoingRight = 3,
    RunningLeft = 4,
    RunningRight = 5,
    GoingUp = 6,
    GoingDown = 7,
    Waving = 8,
    Dancing = 9,
};

constexpr UINT BehaviourTimerId = 1;
constexpr UINT BehaviourTimerInterval = 66; // ms

// Written by the tick, the starters and ReturnToRest; CharacterRect also by
// the sprite loader (start position) and the window procedure (after a press).
extern uint8_t BehaviourState;
extern uint16_t CurrentFrame;
extern uint16_t CycleCount;
extern RECT CharacterRect;
// Set by the "Random" command; RandomMode cleared by every menu command.
extern uint32_t RandomMode;
extern uint32_t PickNow;

void SeedRandom();                   // from the calendar clock
void SeedRandomWith(uint32_t state); // the same, with a given state
uint16_t NextRandom();               // 0 to 32767

void CALLBACK BehaviourTick(HWND window, UINT message, UINT_PTR timerId, DWORD time);
void ReturnToRest();
void StartGoLeft();
void StartGoRight();
void StartRunLeft();
void StartRunRight();
void StartGoUp();
void StartGoDown();
void StartWave();
void StartDance();

// The engine's platform calls, thin over the system in the program and
// recorded by the host tests.
void BehaviourWindowRect(HWND window, RECT *rect); // GetWindowRect
void BehaviourPresent(HWND window);                // PresentFrame
void BehaviourPlaySound(uint16_t waveId);          // PlaySoundA, resource, async
