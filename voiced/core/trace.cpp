// The trace: one file, opened for appending when the variable is first
// read, written by a thread of its own. The service and the hub may append to
// the same file: each line goes out in one write and is flushed at once.
#include "voiced/core/trace.h"
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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

// Lines are queued by the tracing threads and written by a thread of the
// trace's own, so that a slow disk never holds the pipe engine. Past
// TraceMaxBytes the file gets one last line saying so and nothing more;
// past QueueMaxBytes waiting, lines are dropped. What is queued when the
// process exits is written first, for a second at most.
struct TraceFile;
TraceFile &TheTrace();

constexpr size_t QueueMaxBytes = 1u << 20;

struct TraceFile {
    std::mutex lock;
    std::condition_variable wake, drained;
    FILE *file = nullptr;           // under lock
    std::deque<std::string> queued; // under lock
    size_t queuedBytes = 0;         // under lock
    size_t written = 0;             // under lock: the file's size
    bool writing = false;           // under lock: a line is being written
    std::atomic<bool> on{false};

    TraceFile()
    {
        Open();
        std::thread([this] { Writer(); }).detach();
        std::atexit([] { TheTrace().Flush(); });
    }
    void Flush()
    {
        std::unique_lock<std::mutex> hold(lock);
        drained.wait_for(hold, std::chrono::seconds(1),
                         [this] { return queued.empty() && !writing; });
    }
    void Open()
    {
        std::unique_lock<std::mutex> hold(lock);
        drained.wait(hold, [this] { return queued.empty() && !writing; });
        if (file)
            std::fclose(file);
        const char *path = std::getenv(TraceVariable);
        file = path && *path ? std::fopen(path, "a") : nullptr;
        written = 0;
        if (file && std::fseek(file, 0, SEEK_END) == 0)
            written = static_cast<size_t>(std::max(0L, std::ftell(file)));
        on = file != nullptr;
    }
    void Queue(std::string line)
    {
        {
            std::lock_guard<std::mutex> hold(lock);
            if (queuedBytes + line.size() > QueueMaxBytes)
                return;
            queuedBytes += line.size();
            queued.push_back(std::move(line));
        }
        wake.notify_one();
    }
    void Writer()
    {
        std::unique_lock<std::mutex> hold(lock);
        for (;;) {
            wake.wait(hold, [this] { return !queued.empty(); });
            std::string line = std::move(queued.front());
            queued.pop_front();
            queuedBytes -= line.size();
            writing = true;
            FILE *out = file;
            const bool last = written + line.size() > TraceMaxBytes;
            if (last)
                line = "trace: the file reached " + std::to_string(TraceMaxBytes >> 20) +
                       " MB; nothing more is written\n";
            hold.unlock(); // Open waits for writing to end before it closes out
            if (out && written <= TraceMaxBytes) {
                std::fputs(line.c_str(), out);
                std::fflush(out);
            }
            hold.lock();
            written += last ? TraceMaxBytes + 1 : line.size();
            writing = false;
            if (queued.empty())
                drained.notify_all();
        }
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
    std::tm utc = {};
#ifdef _WIN32
    const bool known = gmtime_s(&utc, &seconds) == 0;
#else
    const bool known = gmtime_r(&seconds, &utc) != nullptr;
#endif
    const size_t n = known ? std::strftime(out, size, "%Y-%m-%d %H:%M:%S", &utc) : 0;
    std::snprintf(out + n, size - n, ".%03dZ", millis);
}

void Write(const char *component, const char *text)
{
    char stamp[40];
    Stamp(stamp, sizeof stamp);
    char line[TraceMaxText + 120];
    std::snprintf(line, sizeof line, "%s %d %s: %s\n", stamp, static_cast<int>(NELKO_PID()),
                  component, text);
    TheTrace().Queue(line);
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
