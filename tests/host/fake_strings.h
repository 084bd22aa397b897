// A string table for host tests: LoadText reads this instead of resources.
#pragma once
#include "app/platform.h"

void SetFakeString(UINT id, const char *text); // nullptr removes the string
void ClearFakeStrings();
// Strings 8000 to 8010: the eleven command labels as shipped.
void SetShippedCommandLabels();
