// Placeholder: no voice service yet, the ordinary no-voice path.
#include "voice/voice.h"

int VoiceConnect() { return 0; }
void VoiceSetUp() {}
void VoiceDisconnect() {}
