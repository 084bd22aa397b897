// Voice commands: the connection to the voice-command service.
#pragma once
#include "app/platform.h"
#include <cstdint>

int VoiceConnect();
void VoiceSetUp();
void VoiceDisconnect();
