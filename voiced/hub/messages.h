// Every message posted to the feedback window and every timer it runs,
// numbered once here so that no two collide.
#pragma once
#include "voiced/pipe/bridge.h"
#include <windows.h>

enum FeedbackMessage : UINT {
    // First the channel's connections, from the pipe engine's thread:
    // WindowEvents numbers them (OpenedMessage, LineMessage, ClosedMessage).
    // The hub: what the window shows changed (posted once per burst).
    RefreshMessage = WindowEvents::ClosedMessage + 1,
    // The answer to a file to listen to, from the thread that read it.
    FileAnswerMessage, // wParam: connection, lParam: FeedbackHub::FileAnswer*
    // The ear's and the microphone's threads.
    EarStateMessage,     // wParam: Listener::State
    UtteranceMessage,    // lParam: Listener::Heard*
    MicrophoneMessage,   // wParam: 1 open, 0 none
    DecodingFileMessage, // wParam: 1 a file is being decoded, 0 no longer
};

enum FeedbackTimer : UINT_PTR {
    GraceTimer = 1, // hidden with no service: the time left before the hub ends
    MeterTimer,     // the level meter and the level the services are given
};
