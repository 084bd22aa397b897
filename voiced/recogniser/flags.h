// The recogniser's options as the tools' command lines name them.
#pragma once
#include "voiced/recogniser/recogniser.h"

// When argv[*i] is a recogniser flag (see RecogniserFlagsUsage) followed by
// its value, sets the option, moves *i to the value and returns 1; returns 0
// for anything else.
int ReadRecogniserFlag(int argc, char **argv, int *i, RecogniserOptions *options);
extern const char RecogniserFlagsUsage[];
