// The voice programs' trace: with NELKO_VOICE_TRACE naming a file, the
// service and the hub append a line to it for each event that crosses a
// boundary (a connection opened or closed, a verb received or sent, a
// delivery to a client, a recogniser's decision), so that a user's report
// can carry what happened:
//
//   2026-12-07 15:20:01.123Z 812 hub: received SAY go left (connection 3)
//
// wall-clock time (UTC), process id, component, text. Without the variable
// each call costs one check of a flag read at the first call.
#pragma once
#include <string>

#if defined(__MINGW32__) // the C library's printf there is not the one Trace uses
#define NELKO_TRACE_FORMAT __attribute__((format(gnu_printf, 2, 3)))
#elif defined(__GNUC__)
#define NELKO_TRACE_FORMAT __attribute__((format(printf, 2, 3)))
#else
#define NELKO_TRACE_FORMAT
#endif

// Any thread: one line, written whole by the trace's own thread soon after.
// Line breaks in the text become spaces; a text longer than TraceMaxText is
// cut. At most TraceMaxWaiting lines wait to be written (more are dropped),
// and the file grows to TraceMaxBytes at most: its last line then says so.
void Trace(const char *component, const char *format, ...) NELKO_TRACE_FORMAT;
constexpr size_t TraceMaxText = 400;
constexpr size_t TraceMaxWaiting = 4096;
constexpr size_t TraceMaxBytes = 16 << 20;

// A channel line as the trace shows it: its verb and the connection, with
// the phrase of a SAY or a PHRASE (what a user reports); other fields are
// left out, and so is LEVEL.
void TraceLine(const char *component, const char *direction, int connection,
               const std::string &line);

// Waits until every line traced so far is written, then reads
// NELKO_VOICE_TRACE again and opens what it names (the first Trace does so
// by itself): for tests.
void TraceReadEnvironment();
