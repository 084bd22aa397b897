// Placeholder until the behaviour engine lands.
#include "behaviour/behaviour.h"

uint8_t BehaviourState = ReturningToRest;
uint16_t CurrentFrame;
uint16_t CycleCount;
RECT CharacterRect;
uint32_t RandomMode;
uint32_t PickNow;

void SeedRandom() {}
void CALLBACK BehaviourTick(HWND, UINT, UINT_PTR, DWORD) {}
void ReturnToRest() {}
void StartGoLeft() {}
void StartGoRight() {}
void StartRunLeft() {}
void StartRunRight() {}
void StartGoUp() {}
void StartGoDown() {}
void StartWave() {}
void StartDance() {}
