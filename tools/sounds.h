// Nelko's two sounds, synthesised: 8-bit unsigned mono samples.
#pragma once

#include "common/bytes.h"

enum : uint32_t {
    GreetingRate = 22255,
    GreetingSamples = 23296, // about 1.05 s
    JingleRate = 22050,
    JingleSamples = 36096, // about 1.64 s
};

// A bright, rising "hi!" in a small cartoon voice, then a little chime.
Bytes SynthesizeGreeting();

// A short cheerful tune for the dance, on its two-frame beat.
Bytes SynthesizeJingle();
