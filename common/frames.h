// The strip of frames as both its sides know it: the generator draws each
// run where it is named here, and the behaviour's action table steps through
// the same runs. Frames are numbered from 1, in the strip's order.
#pragma once
#include <cstdint>

// The first and the last frame of one run.
struct FrameRun {
    uint16_t first, last;
};

constexpr FrameRun WalkRightFrames{1, 12};    // in profile, facing right
constexpr FrameRun WalkLeftFrames{13, 24};    // the same, mirrored
constexpr FrameRun WalkTowardsFrames{25, 36}; // facing the viewer
constexpr FrameRun WalkAwayFrames{37, 48};    // seen from behind
constexpr FrameRun WaveFrames{49, 66};        // raising an arm, waving, lowering it
constexpr FrameRun DanceFrames{67, 86};       // on the jingle's beat
constexpr uint16_t FrameCount = DanceFrames.last;

// The frame the character rests on: the plain standing pose, last in the
// strip, where the dance ends. The generator draws it there, the behaviour
// returns to it and the end-to-end tests look for it.
constexpr uint16_t RestFrame = DanceFrames.last;

// Where each action's sound starts: "Hi!" as the mouth opens, and the
// jingle's first beat on the dance's third frame.
constexpr uint16_t GreetingFrame = WaveFrames.first + 7;
constexpr uint16_t JingleFrame = DanceFrames.first + 2;
