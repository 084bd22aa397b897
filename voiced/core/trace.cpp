// The trace: one file, opened for appending when the variable is first
// read, and written by a thread of its own, so that no thread that traces
// (the pipe engine's above all) waits on the disk. The service and the hub
// may append to the same file: each line goes out in one write. Lines that
// come faster than the disk takes them are dropped past TraceMaxWaiting, and
// the file grows to TraceMaxBytes at most.
#include "voiced/core/trace.h"
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>
#ifdef _WIN32
#include <process.h>
#define NELKO_PID _getpid
#else
#include <unistd.h>
#define NELKO_PID getpid
#endif

namespace {

const char TraceVariable[] = "NELKO_VOICE_TRACE";

const char FullLine[] = "the trace is full: nothing more is written\n";

struct TraceFile {
    std::mutex lock;
    std::condition_variable waiting, written;
    FILE *file = nullptr;          // under lock
    std::deque<std::string> lines; // under lock: for the writer
    bool writing = false;          // under lock: the writer holds lines
    size_t size = 0;               // under lock: the file's bytes
    std::atomic<bool> on{false};

    TraceFile()
    {
        Open();
        std::thread([this] { Run(); }).detach();
    }
    void Open()
    {
        std::unique_lock<std::mutex> hold(lock);
        written.wait(hold, [this] { return lines.empty() && !writing; });
        if (file)
            std::fclose(file);
        const char *path = std::getenv(TraceVariable);
        file = path && *path ? std::fopen(path, "a") : nullptr;
        size = file && std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : 0;
        on = file != nullptr;
    }
    // The writer's thread: the lines go out one write each, until the file
    // is full.
    void Run()
    {
        for (std::unique_lock<std::mutex> hold(lock);;) {
            waiting.wait(hold, [this] { return !lines.empty(); });
            std::deque<std::string> taken;
            taken.swap(lines);
            writing = true;
            FILE *out = file;
            size_t at = size;
            hold.unlock();
            for (const std::string &line : taken)
                at = Append(out, at, line);
            hold.lock();
            size = at;
            writing = false;
            written.notify_all();
        }
    }
    static size_t Append(FILE *out, size_t at, const std::string &line)
    {
        const size_t room = TraceMaxBytes - sizeof FullLine;
        if (!out || at > room)
            return at;
        const bool fits = line.size() <= room - at;
        const std::string &text = fits ? line : FullLine;
        std::fwrite(text.data(), 1, text.size(), out);
        std::fflush(out);
        return fits ? at + line.size() : TraceMaxBytes;
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
    if (!trace.file || trace.lines.size() >= TraceMaxWaiting)
        return;
    char stamp[40];
    Stamp(stamp, sizeof stamp);
    char line[TraceMaxText + 128];
    std::snprintf(line, sizeof line, "%s %d %s: %s\n", stamp, static_cast<int>(NELKO_PID()),
                  component, text);
    trace.lines.push_back(line);
    trace.waiting.notify_one();
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
