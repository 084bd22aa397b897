// The random source: a linear congruential generator over one 32-bit state,
// seeded once from the calendar clock.
#include "behaviour/behaviour.h"
#include <ctime>

static uint32_t RandomState = 1;

void SeedRandom()
{
    SeedRandomWith(static_cast<uint32_t>(std::time(nullptr)));
}

void SeedRandomWith(uint32_t state)
{
    RandomState = state;
}

uint16_t NextRandom()
{
    RandomState = RandomState * 214013u + 2531011u;
    return static_cast<uint16_t>((RandomState >> 16) & 0x7FFF);
}
