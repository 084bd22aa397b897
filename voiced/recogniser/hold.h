// Hold mode: a key's hold, handed over as it comes (RecogniserHoldBegin,
// RecogniserHoldFeed, RecogniserHoldEnd) or whole (RecogniserFeedHeld), is
// decided on its sound up to its last speech and a fixed trailing stretch,
// so that a hold whose speaker has stopped can be decided before the key
// comes up, and that decision is the one the whole hold gets.
#pragma once
#include "voiced/recogniser/instance.h"

// The hold's samples that decide it: up to the end of its last speech and
// RecogniserHoldTrailSeconds after it, or all of them when none was speech.
size_t HoldDecidedLength(const HeldSound &hold);
