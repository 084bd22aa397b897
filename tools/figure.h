// Nelko, drawn by the generator: the 86 frames of the strip, the About
// picture and the icon's face.
#pragma once

#include "common/frames.h"
#include "tools/image.h"
#include "tools/palette.h"

enum : int {
    kFrameWidth = 64,
    kFrameHeight = 128,
    kFrameCount = 86,
    kRestFrame = RestFrame,
    kAboutWidth = 220,
    kAboutHeight = 128,
    kIconSize = 32,
    kSmallestGap = 12, // pockets of background the figure encloses are at least this big
};

// Frames, 1-based, in the strip's order:
//   1-12 walking right in profile, 13-24 walking left, 25-36 walking towards
//   the viewer, 37-48 walking away, 49-66 raising an arm and waving, 67-86
//   dancing, 86 being the plain standing pose that is also the rest frame.
// Drawn on the given background index; the resources use kBackground (117).
IndexedImage DrawFrame(int frame, uint8_t background);

// All frames side by side, on the white background.
IndexedImage DrawFrameStrip();

// Nelko waving beside its name and a line inviting a click, a pick from the
// menu or a spoken command. The bottom row is plain ground.
IndexedImage DrawAboutPicture();

// Nelko's face for the icon, on the background index where it is transparent.
IndexedImage DrawIconFace();
