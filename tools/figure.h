// Nelko, drawn by the generator: the 86 frames of the strip, the About
// picture and the icon's face.
#pragma once

#include "common/frames.h"
#include "tools/image.h"
#include "tools/palette.h"

enum : int {
    StripFrameWidth = 64,
    StripFrameHeight = 128,
    AboutWidth = 220,
    AboutHeight = 128,
    IconSize = 32,
    SmallestGap = 12, // pockets of background the figure encloses are at least this big
};

// One frame of the strip, 1 to FrameCount, each run where common/frames.h
// names it; the dance's last frame is the plain standing pose, RestFrame.
// Drawn on the given background index; the resources use Background (117).
IndexedImage DrawFrame(int frame, uint8_t background);

// All frames side by side, on the white background.
IndexedImage DrawFrameStrip();

// Nelko waving beside its name and a line inviting a click, a pick from the
// menu or a spoken command. The bottom row is plain ground.
IndexedImage DrawAboutPicture();

// Nelko's face for the icon, on the background index where it is transparent.
IndexedImage DrawIconFace();
