// Where the hub is found, and the clock that times what crosses the channel.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>

// \\.\pipe\NelkoVoiceHub-<user SID>-<session id>: one hub per user and
// desktop session.
std::string HubPipeName();
// The named mutex the running hub holds (a second start finds it), in this
// session's namespace and named for the user.
std::string HubMutexName();
// Feedback.exe beside the running program, in UTF-8.
std::string HubProgramPath();

// Microseconds on the system's monotonic clock, comparable between processes.
uint64_t MicrosecondsNow();
