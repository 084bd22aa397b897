// The stream (RecogniserFeed, RecogniserFlush): the speech detectors that
// cut it into utterances, their warm-up, the room heard before a loud
// start, the early decision and the holding of an utterance that is no
// command.
#pragma once
#include "voiced/recogniser/instance.h"

// The recogniser's two detectors, hearing a stream from its start.
bool NewDetectors(Recogniser *r);
void FreeDetectors(Recogniser *r);
// Forgets the stream heard so far, reporting nothing: the next samples fed
// start a new one.
void RestartStream(Recogniser *r);
