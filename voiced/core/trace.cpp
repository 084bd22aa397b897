// The trace: one file, one lock, opened for appending when the variable is
// first read. The service and the hub may append to the same file: each line
// goes out in one write and is flushed at once.
#include "voiced/core/trace.h"
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#ifdef _WIN32
#include <process.h>
#define NELKO_PID _getpid
#else
#include <unistd.h>
#define NELKO_PID getpid
#endif

namespace {

const char TraceVariable[] = "NELKO_VOICE_TRACE";

struct TraceFile {
    std::mutex lock;
    FILE *file = nullptr; // under lock
    std::atomic<bool> on{false};

    TraceFile() { Open(); }
    void Open()
    {
        std::lock_guard<std::mutex> hold(lock);
        if (file)
            std::fclose(file);
        const char *path = std::getenv(TraceVariable);
        file = path && *path ? std::fopen(path, "a") : nullptr;
        on = file != nullptr;
    }
};

// Never destroyed: threads may still trace while the process ends.
TraceFile &TheTrace()
{
    static TraceFile *trace = new TraceFile;
    return *trace;
}

bool On()
{
    return TheTrace().on.load(std::memory_order_relaxed);
}

// "2026-12-07 15:20:01.123Z"
void Stamp(char *out, size_t size)
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const int millis =
        static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    const std::tm *utc = std::gmtime(&seconds); // under the trace's lock
    const size_t n = utc ? std::strftime(out, size, "%Y-%m-%d %H:%M:%S", utc) : 0;
    std::snprintf(out + n, size - n, ".%03dZ", millis);
}

void Write(const char *component, const char *text)
{
    TraceFile &trace = TheTrace();
    std::lock_guard<std::mutex> hold(trace.lock);
    if (!trace.file)
        return;
    char stamp[40];
    Stamp(stamp, sizeof stamp);
    std::fprintf(trace.file, "%s %d %s: %s\n", stamp, static_cast<int>(NELKO_PID()), component,
                 text);
    std::fflush(trace.file);
}

} // namespace

void Trace(const char *component, const char *format, ...)
{
    if (!On())
        return;
    char text[TraceMaxText + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    for (char *c = text; *c; ++c)
        if (*c == '\n' || *c == '\r')
            *c = ' ';
    Write(component, text);
}

void TraceLine(const char *component, const char *direction, int connection,
               const std::string &line)
{
    if (!On())
        return;
    // What is sent still ends with its line break.
    const std::string whole = line.substr(0, line.find_last_not_of("\r\n") + 1);
    const size_t tab = whole.find('\t');
    const std::string verb = whole.substr(0, tab);
    if (verb == "LEVEL") // a meter's reading, several times a second
        return;
    std::string shown;
    if ((verb == "SAY" || verb == "PHRASE") && tab != std::string::npos)
        shown = whole.substr(tab);
    for (char &c : shown)
        c = c == '\t' ? ' ' : c;
    Trace(component, "%s %s%s (connection %d)", direction, verb.c_str(), shown.c_str(), connection);
}

void TraceReadEnvironment()
{
    TheTrace().Open();
}
