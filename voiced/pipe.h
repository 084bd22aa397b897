// The channel's transport: a named pipe per desktop session, carrying lines
// (voiced/channel.txt). The hub listens; each service process, /say and any
// recogniser connect to it.
#pragma once
#include "voiced/voiced.h"
#include <windows.h>
#include <condition_variable>
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
// service), reads lines and reports them, and writes what Send queues. A
// connection whose peer breaks the line rules, stops reading for too long or
// goes away is closed and reported once.
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
    static constexpr size_t MaxConnections = 28;
    static constexpr size_t MaxQueuedBytes = 4 << 20; // per connection, unsent

    explicit PipeEngine(Events *events);
    ~PipeEngine();
    PipeEngine(const PipeEngine &) = delete;
    PipeEngine &operator=(const PipeEngine &) = delete;

    // Listening is set up before Start; false when the name is taken.
    bool Listen(const std::string &name);
    bool Start();
    void Stop();

    // The rest may be called from any thread.
    int Adopt(HANDLE pipe); // an overlapped client handle; returns its id
    void Send(int id, std::string line);
    void Close(int id); // after what was sent before it has been written

  private:
    struct Connection;
    struct Request {
        enum Kind { Adopt, Send, Close } kind;
        int id;
        HANDLE pipe;
        std::string line;
    };
    void Run();
    bool Accept();
    void Take(int id, HANDLE pipe);
    void Handle(Request &request);
    void StartRead(Connection &c);
    void FinishRead(Connection &c);
    void StartWrite(Connection &c);
    void FinishWrite(Connection &c);
    void Shut(Connection &c);
    HANDLE NewInstance(bool first);

    Events *events_;
    std::string name_;
    HANDLE listener_ = INVALID_HANDLE_VALUE;
    OVERLAPPED accept_ = {};
    bool accepting_ = false;
    bool connectedAlready_ = false;
    HANDLE wake_ = nullptr;
    std::thread thread_;
    std::mutex lock_;
    std::deque<Request> requests_;                         // under lock_
    bool stop_ = false;                                    // under lock_
    int nextId_ = 1;                                       // under lock_
    std::vector<std::unique_ptr<Connection>> connections_; // the engine's thread only
};

// A client of the hub for short exchanges (/say, the probe): one thread,
// lines out, lines in with a time limit.
class PipeClient {
  public:
    PipeClient() = default;
    ~PipeClient() { Disconnect(); }
    PipeClient(const PipeClient &) = delete;
    PipeClient &operator=(const PipeClient &) = delete;

    // Waits up to timeoutMs for the pipe to exist and take the connection.
    bool Connect(const std::string &name, DWORD timeoutMs);
    void Disconnect();
    bool Send(const std::string &line); // with its newline
    // The next line, false after timeoutMs or when the hub went away.
    bool ReadLine(std::string *line, DWORD timeoutMs);

  private:
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
    LineReader reader_;
    std::deque<std::string> lines_;
};

// Opens the pipe as an overlapped client handle for PipeEngine::Adopt;
// INVALID_HANDLE_VALUE when no hub listens there.
HANDLE OpenPipe(const std::string &name, DWORD timeoutMs);
