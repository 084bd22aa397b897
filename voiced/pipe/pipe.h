// The channel's transport: a named pipe per desktop session, carrying lines
// (voiced/channel.txt). The hub listens; each service process, /say and any
// recogniser connect to it.
#pragma once
#include "common/feedback.h"
#include "common/win32.h"
#include "voiced/core/hubcore.h"
#include <windows.h>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

// \\.\pipe\NelkoVoiceHub-<session id>: one hub per desktop session.
std::string HubPipeName();
// The named mutex the running hub holds (a second start finds it).
std::string HubMutexName();
// Feedback.exe beside the running program.
std::string HubProgramPath();

// Microseconds on the system's monotonic clock, comparable between processes.
uint64_t MicrosecondsNow();

// Runs named-pipe connections on a thread of its own: accepts clients on a
// pipe name (the hub) and/or takes over handles connected elsewhere (a
// service), reads lines and reports them, and writes what Send queues. The
// thread never waits on a peer (overlapped I/O through one completion port).
// A connection is closed, and reported closed once, when its peer goes away
// or breaks the line rules, sends no whole line within FirstLineMs of
// connecting, leaves more than MaxQueuedBytes unread, or reads nothing of
// what waits for it for StalledMs.
class PipeEngine {
  public:
    // Called on the engine's thread, in order per connection.
    class Events {
      public:
        virtual ~Events() = default;
        virtual void Opened(int id) = 0;
        virtual void Line(int id, std::string line) = 0;
        virtual void Closed(int id) = 0;
    };
    static constexpr size_t MaxConnections = 100;     // more are closed at once
    static constexpr size_t MaxQueuedBytes = 1 << 20; // per connection, unsent
    static constexpr DWORD FirstLineMs = 5000;
    static constexpr DWORD StalledMs = 10000;

    explicit PipeEngine(Events *events);
    ~PipeEngine();
    PipeEngine(const PipeEngine &) = delete;
    PipeEngine &operator=(const PipeEngine &) = delete;

    // Listening is set up before Start. The name is made for this user (and
    // the system) alone, local clients only; Taken when some program already
    // serves it.
    enum class Listening { Yes, Taken, Failed };
    Listening Listen(const std::string &name);
    bool Start();
    void Stop(); // never waits on a peer

    // The rest may be called from any thread.
    int Adopt(HANDLE pipe); // an overlapped client handle; returns its id
    void Send(int id, std::string line);
    void Close(int id); // after what was sent before it has been written

  private:
    struct Connection;
    struct Request {
        enum Kind { Adopt, Send, Close } kind;
        int id;
        ScopedHandle pipe; // Adopt: the handle handed over, closed if never taken
        std::string line;
    };
    void Queue(Request request);
    void Run();
    void Accept();
    void ReplaceListener();
    void Accepted(bool connected);
    void Take(int id, ScopedHandle pipe, bool adopted);
    void Handle(Request &request);
    void Completed(OVERLAPPED *done, DWORD bytes, bool ok);
    void StartRead(Connection &c);
    void FinishRead(Connection &c, DWORD got, bool ok);
    void StartWrite(Connection &c);
    void FinishWrite(Connection &c, DWORD done, bool ok);
    void Drop(Connection &c); // at once, unsent output discarded
    bool Reap();              // closes what is done; false when nothing is left
    DWORD Expire();           // time limits; returns the wait until the next one
    void Finish();            // after Stop: every connection closed, the listener too
    ScopedHandle NewInstance(bool first);

    Events *events_;
    std::string name_;
    void *security_ = nullptr; // the pipe's security descriptor (LocalAlloc)
    ScopedHandle port_;
    ScopedHandle listener_; // the instance waiting for the next client
    OVERLAPPED accept_ = {};
    bool accepting_ = false;
    std::thread thread_;
    std::mutex lock_;
    std::deque<Request> requests_;                         // under lock_
    bool stop_ = false;                                    // under lock_
    int nextId_ = 1;                                       // under lock_
    std::vector<std::unique_ptr<Connection>> connections_; // the engine's thread only
};

// Hands an engine's events to a window's thread as posted messages: opened
// and closed with the connection in wParam, a line with a PostedLine* in
// lParam (the receiver takes it with TakePosted). Nothing is lost silently when a post
// fails (the window's queue is full): a connection whose opening or line
// could not be posted is closed, so that its client connects again, and a
// closing that could not be posted waits for the window's next Drain. A
// connection whose lines the window has not taken yet pass MaxPostedLines
// or MaxPostedBytes is closed too: one client sending faster than the
// window works fills neither its queue nor the memory for the others.
class WindowEvents : public PipeEngine::Events {
  public:
    static constexpr size_t MaxPostedLines = 96; // per connection
    static constexpr size_t MaxPostedBytes = 1 << 20;
    // What a connection has posted that the window has not taken yet.
    struct Backlog {
        std::atomic<size_t> lines{0}, bytes{0};
        bool cut = false; // closed for it (the engine's thread only)
    };
    struct PostedLine {
        std::string text;
        uint64_t arrived;                           // MicrosecondsNow() when it was read
        std::shared_ptr<Backlog> backlog = nullptr; // counted in until the line goes
        size_t counted = 0;                         // bytes
        ~PostedLine()
        {
            if (backlog)
                backlog->lines--, backlog->bytes -= counted;
        }
        PostedLine(const PostedLine &) = delete; // counted out once
    };
    // The messages, the same for every window that listens to an engine;
    // a window's own messages come after them.
    static constexpr UINT OpenedMessage = WM_APP + 1; // wParam: the connection
    static constexpr UINT LineMessage = WM_APP + 2;   // and lParam: a PostedLine*
    static constexpr UINT ClosedMessage = WM_APP + 3; // wParam: the connection
    explicit WindowEvents(HWND window) : window_(window) {}
    void Attach(PipeEngine *engine) { engine_ = engine; }
    // The window's thread: the closings that could not be posted, oldest
    // first; call it often (every message of the three and a timer).
    std::vector<int> Drain();

    void Opened(int id) override;
    void Line(int id, std::string line) override { Post(id, std::move(line)); }
    void Closed(int id) override;
    // Posts a line; false when it could not be (the connection is closed).
    bool Post(int id, std::string line);

  private:
    HWND window_;
    PipeEngine *engine_ = nullptr;
    std::mutex lock_;
    std::vector<int> unposted_;                        // under lock_
    std::map<int, std::shared_ptr<Backlog>> backlogs_; // the engine's thread only
};

// A client of the hub for short exchanges (/say, the probe): one thread,
// lines out, lines in with a time limit.
class PipeClient {
  public:
    PipeClient() = default;
    ~PipeClient() { Disconnect(); }
    PipeClient(const PipeClient &) = delete;
    PipeClient &operator=(const PipeClient &) = delete;

    // Waits up to timeoutMs for the pipe to exist and take the connection,
    // served by the program at server (OpenPipe). False when it does not;
    // then Refusal() says why when the server was not the one expected.
    bool Connect(const std::string &name, const std::string &server, DWORD timeoutMs);
    void Disconnect();
    // A line with its newline; false when the hub takes it not all within
    // timeoutMs (then the client is disconnected) or went away.
    static constexpr DWORD SendMs = 5000;
    bool Send(const std::string &line, DWORD timeoutMs = SendMs);
    // The next line, false after timeoutMs or when the hub went away.
    bool ReadLine(std::string *line, DWORD timeoutMs);
    const std::string &Refusal() const { return refusal_; }

  private:
    // How a transfer started on the client's event ended within the time
    // left of timeoutMs since start: Late when it was cancelled (*moved is
    // what went through anyway).
    enum class Io { Done, Failed, Late };
    Io Await(OVERLAPPED &ov, bool started, DWORD start, DWORD timeoutMs, DWORD *moved);

    ScopedHandle pipe_;
    ScopedHandle event_; // for the overlapped reads and writes on pipe_
    LineReader reader_;
    std::deque<std::string> lines_;
    std::string refusal_;
};

// Opens the pipe as an overlapped client handle (for PipeEngine::Adopt or a
// PipeClient), at identification level only, and checks who serves it
// before anything is sent: the program at the full path server, running as
// this user. INVALID_HANDLE_VALUE when no server answers within timeoutMs,
// or when another program serves the name (then *refusal, when given, says
// which).
HANDLE OpenPipe(const std::string &name, const std::string &server, DWORD timeoutMs,
                std::string *refusal = nullptr);
