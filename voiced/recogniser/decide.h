// The decision on an utterance: its frames prepared, decoded, checked and
// judged.
#pragma once
#include "voiced/recogniser/instance.h"

// Decides the current utterance as it stands (r->cepstra, left as it is),
// ending at end seconds. waited: the silent frames it ends with, or -1 when
// the input stopped.
Decision Decide(Recogniser *r, double end, int waited);
