// The frame the character rests on: the plain standing pose, last in the
// strip, where the dance ends. The generator draws it there, the behaviour
// returns to it and the end-to-end tests look for it.
#pragma once
#include <cstdint>

constexpr uint16_t RestFrame = 86;
