// The user's listening settings, kept under HKEY_CURRENT_USER\Software\Voice
// beside the voice service's own value. Values the user never changed are
// not written: a fresh user reads the defaults, and the service's
// uninstallation still finds the key as it left it.
#pragma once
#include "voiced/hub/listening.h"

// What is kept; a missing value, or one of another type or out of range,
// reads as its default.
ListenSettings ReadListenSettings();
// Writes the values that differ from what is kept; false when one could not
// be written.
bool WriteListenSettings(const ListenSettings &settings);

// The values' names.
extern const char ListenSettingsKey[];
extern const char ListenModeValue[], HoldKeyValue[], NameValue[], SensitivityValue[];
