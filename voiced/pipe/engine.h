// The channel's transport: named-pipe connections carrying lines
// (voiced/channel.txt), run on a thread of the engine's own. The hub listens
// on its pipe; a service adopts the handle it opened to the hub.
#pragma once
#include "common/win32.h"
#include "voiced/core/channel.h"
#include "voiced/core/idpool.h"
#include <windows.h>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
    // More are closed at once. The hub's own table (HubCore::MaxClients) is
    // smaller and turns idle clients away; this bounds a crowd that comes
    // faster than the hub's thread takes the news.
    static constexpr size_t MaxConnections = 200;
    // The most a conforming peer has on its way at once: a service's whole
    // publication (every menu at the longest line), sent a second time
    // while the first is still going, and room for the rest.
    static constexpr size_t MaxPublication = MaxServiceMenus * (MaxChannelLine + 1);
    static constexpr size_t MaxQueuedBytes = 2 * MaxPublication + (1 << 20); // per connection
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
    int NewId();
    void FreeId(int id);
    void Pump(DWORD wait); // waits up to wait for one completion and handles it
    ScopedHandle NewInstance(bool first);

    Events *events_;
    std::string name_;
    void *security_ = nullptr; // the pipe's security descriptor (LocalAlloc)
    ScopedHandle port_;
    ScopedHandle listener_; // the instance waiting for the next client
    OVERLAPPED accept_ = {};
    bool accepting_ = false;
    bool finishing_ = false; // Finish: an accept that comes back only ends
    std::thread thread_;
    std::mutex lock_;
    std::deque<Request> requests_;                         // under lock_
    bool stop_ = false;                                    // under lock_
    IdPool ids_;                                           // under lock_
    std::vector<std::unique_ptr<Connection>> connections_; // the engine's thread only
};
