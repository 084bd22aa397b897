// Named-pipe connections carrying channel lines, with overlapped I/O on one
// thread per engine: a blocking read would hold up writes on the same handle.
#include "voiced/pipe/engine.h"
#include "voiced/core/trace.h"
#include "voiced/pipe/peer.h"
#include <sddl.h>
#include <algorithm>

namespace {

constexpr DWORD PipeBuffer = 64 * 1024;
constexpr DWORD ReadChunk = 16 * 1024;
constexpr ULONG_PTR WakeKey = 1; // a request waits, or Stop
constexpr ULONG_PTR PipeKey = 2; // an accept, read or write completed
constexpr DWORD RetryListenMs = 1000;
constexpr DWORD StopMs = 1000; // for cancelled I/O to come back
constexpr int AcceptTries = 16;

} // namespace

struct PipeEngine::Connection {
    int id = 0;
    ScopedHandle pipe;
    OVERLAPPED read = {};
    OVERLAPPED write = {};
    bool reading = false;
    bool writing = false;
    bool closing = false; // no more reads; closed once the output is written
    bool heard = false;   // a whole line has come
    DWORD opened = 0;     // GetTickCount() when it came
    DWORD moved = 0;      // when output last moved (or began to wait)
    char buffer[ReadChunk];
    LineReader lines;
    std::deque<std::string> queue;
    size_t queued = 0; // bytes not yet written, in queue and outgoing
    std::string outgoing;
    size_t written = 0;
};

ScopedHandle PipeEngine::NewInstance(bool first)
{
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security_, FALSE};
    ScopedHandle pipe(CreateNamedPipeA(
        name_.c_str(),
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, PipeBuffer, PipeBuffer, 0, &attributes));
    if (pipe && !CreateIoCompletionPort(pipe.Get(), port_.Get(), PipeKey, 0))
        pipe.Reset();
    return pipe;
}

PipeEngine::PipeEngine(Events *events)
    : events_(events), port_(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1))
{
}

PipeEngine::~PipeEngine()
{
    Stop(); // the listener, when it listened and never started, and the port close after
    LocalFree(security_);
}

PipeEngine::Listening PipeEngine::Listen(const std::string &name)
{
    name_ = name;
    // A name already served, even by a server that ignores the first
    // instance flag: an instance waiting for a client, or every one busy.
    if (WaitNamedPipeA(name.c_str(), 1) || GetLastError() == ERROR_SEM_TIMEOUT ||
        GetLastError() == ERROR_PIPE_BUSY)
        return Listening::Taken;
    const std::string sid = UserOf(GetCurrentProcess());
    const std::string sddl = "O:" + sid + "D:P(A;;GA;;;" + sid + ")(A;;GA;;;SY)";
    if (!port_ || sid.empty() ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &security_, nullptr))
        return Listening::Failed;
    listener_ = NewInstance(true);
    if (listener_)
        return Listening::Yes;
    return GetLastError() == ERROR_ACCESS_DENIED ? Listening::Taken : Listening::Failed;
}

bool PipeEngine::Start()
{
    if (!port_)
        return false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void PipeEngine::Stop()
{
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stop_ = true;
        }
        PostQueuedCompletionStatus(port_.Get(), 0, WakeKey, nullptr);
        thread_.join();
    }
    // Requests never handled: a handle handed over is still closed.
    std::lock_guard<std::mutex> hold(lock_);
    requests_.clear();
}

// Hands a request to the engine's thread, waking it when none waited.
void PipeEngine::Queue(Request request)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (requests_.empty())
        PostQueuedCompletionStatus(port_.Get(), 0, WakeKey, nullptr);
    requests_.push_back(std::move(request));
}

int PipeEngine::NewId()
{
    std::lock_guard<std::mutex> hold(lock_);
    return ids_.Take();
}

void PipeEngine::FreeId(int id)
{
    std::lock_guard<std::mutex> hold(lock_);
    ids_.Give(id);
}

int PipeEngine::Adopt(HANDLE pipe)
{
    const int id = NewId();
    Queue({Request::Adopt, id, ScopedHandle(pipe), {}});
    return id;
}

void PipeEngine::Send(int id, std::string line)
{
    Queue({Request::Send, id, {}, std::move(line)});
}

void PipeEngine::Close(int id)
{
    Queue({Request::Close, id, {}, {}});
}

// A listening instance that will never connect anyone gives way to a fresh
// one, made before it is closed: the name is never without an instance of
// ours for another program to take.
void PipeEngine::ReplaceListener()
{
    listener_ = NewInstance(false); // made before the old one is closed
}

// Waits for a client on a fresh listening instance. A client that came and
// went before the wait (the instance reports no data) leaves an instance
// that will never connect anyone: it is replaced, and the listener goes on.
void PipeEngine::Accept()
{
    for (int tries = 0; tries < AcceptTries && !accepting_; ++tries) {
        // With no instance of ours left, the name is ours only if it is new.
        if (!listener_)
            listener_ = NewInstance(connections_.empty());
        if (!listener_)
            return; // tried again after RetryListenMs
        accept_ = {};
        if (ConnectNamedPipe(listener_.Get(), &accept_) || GetLastError() == ERROR_IO_PENDING) {
            accepting_ = true; // its completion comes through the port
            return;
        }
        if (GetLastError() == ERROR_PIPE_CONNECTED) {
            Accepted(true); // a client came before the wait: no completion
            continue;
        }
        ReplaceListener();
    }
}

// The listening instance connected (or failed): it becomes a connection, and
// the next client is awaited.
void PipeEngine::Accepted(bool connected)
{
    accepting_ = false;
    if (!connected)
        return ReplaceListener();
    Take(NewId(), std::move(listener_), false);
}

void PipeEngine::Take(int id, ScopedHandle pipe, bool adopted)
{
    auto c = std::make_unique<Connection>();
    c->id = id;
    c->pipe = std::move(pipe);
    c->heard = adopted; // only a client owes a first line
    c->opened = c->moved = GetTickCount();
    connections_.push_back(std::move(c));
    events_->Opened(id);
    Trace("pipe", "connection %d opened%s", id, adopted ? " (handed over)" : "");
    Connection &taken = *connections_.back();
    // Over the limit, or an adopted handle the port does not take: closed at
    // once, and said so.
    if (connections_.size() > MaxConnections ||
        (adopted && !CreateIoCompletionPort(taken.pipe.Get(), port_.Get(), PipeKey, 0)))
        return Drop(taken);
    StartRead(taken);
}

void PipeEngine::Drop(Connection &c)
{
    c.closing = true;
    c.queue.clear();
    c.queued = 0;
    c.outgoing.clear();
    c.written = 0;
    if (c.reading || c.writing)
        CancelIo(c.pipe.Get()); // their completions come back through the port
}

void PipeEngine::StartRead(Connection &c)
{
    if (c.closing || c.reading)
        return;
    if (ReadFile(c.pipe.Get(), c.buffer, sizeof c.buffer, nullptr, &c.read) ||
        GetLastError() == ERROR_IO_PENDING) {
        c.reading = true;
        return;
    }
    Drop(c); // the peer has gone
}

void PipeEngine::FinishRead(Connection &c, DWORD got, bool ok)
{
    c.reading = false;
    if (c.closing) // cancelled by Close, or dropped already
        return;
    if (!ok)
        return Drop(c);
    std::vector<std::string> lines;
    const bool fine = c.lines.Feed(c.buffer, got, &lines);
    c.heard = c.heard || !lines.empty();
    for (std::string &line : lines)
        events_->Line(c.id, std::move(line));
    if (!fine)
        return Drop(c);
    StartRead(c);
}

void PipeEngine::StartWrite(Connection &c)
{
    if (c.writing || (c.queue.empty() && c.written >= c.outgoing.size()))
        return;
    if (c.written >= c.outgoing.size()) {
        c.outgoing = std::move(c.queue.front());
        c.queue.pop_front();
        c.written = 0;
    }
    const DWORD size = static_cast<DWORD>(c.outgoing.size() - c.written);
    if (WriteFile(c.pipe.Get(), c.outgoing.data() + c.written, size, nullptr, &c.write) ||
        GetLastError() == ERROR_IO_PENDING) {
        c.writing = true;
        c.moved = GetTickCount();
        return;
    }
    Drop(c);
}

void PipeEngine::FinishWrite(Connection &c, DWORD done, bool ok)
{
    c.writing = false;
    if (!ok)
        return Drop(c);
    c.written += done;
    c.queued -= std::min<size_t>(c.queued, done);
    StartWrite(c);
}

void PipeEngine::Handle(Request &request)
{
    if (request.kind == Request::Adopt)
        return Take(request.id, std::move(request.pipe), true);
    auto it = std::find_if(connections_.begin(), connections_.end(),
                           [&](const auto &c) { return c->id == request.id; });
    if (it == connections_.end())
        return;
    Connection &c = **it;
    if (request.kind == Request::Close) {
        // What was queued before is still written; a read in flight is
        // cancelled.
        c.closing = true;
        if (c.reading)
            CancelIoEx(c.pipe.Get(), &c.read);
        return StartWrite(c);
    }
    if (c.closing)
        return;
    c.queued += request.line.size();
    if (c.queued > MaxQueuedBytes) // a peer that does not read
        return Drop(c);
    c.queue.push_back(std::move(request.line));
    StartWrite(c);
}

void PipeEngine::Completed(OVERLAPPED *done, DWORD bytes, bool ok)
{
    if (done == &accept_) {
        if (finishing_) // no new client is taken
            accepting_ = false;
        else
            Accepted(ok);
        return;
    }
    for (auto &c : connections_) {
        if (done == &c->read)
            return FinishRead(*c, bytes, ok);
        if (done == &c->write)
            return FinishWrite(*c, bytes, ok);
    }
}

// Closes what is done: its I/O back, its output written or dropped.
bool PipeEngine::Reap()
{
    for (auto it = connections_.begin(); it != connections_.end();) {
        Connection &c = **it;
        const bool written = c.queue.empty() && c.written >= c.outgoing.size();
        if (c.closing && written && !c.reading && !c.writing) {
            // Closed, not disconnected: the peer still reads what was
            // written before it finds the pipe broken.
            c.pipe.Reset();
            events_->Closed(c.id);
            Trace("pipe", "connection %d closed", c.id);
            FreeId(c.id);
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
    return !connections_.empty();
}

// A connection that sends no line in time, or whose peer reads nothing of
// what waits for it, is dropped. Returns the time to the next limit.
DWORD PipeEngine::Expire()
{
    const DWORD now = GetTickCount();
    DWORD next = INFINITE;
    auto limit = [&](Connection &c, DWORD since, DWORD allowed) {
        const DWORD passed = now - since;
        if (passed >= allowed)
            return Drop(c);
        next = std::min(next, allowed - passed);
    };
    for (auto &c : connections_) {
        if (!c->heard && !c->closing)
            limit(*c, c->opened, FirstLineMs);
        if (c->writing && c->queued > 0)
            limit(*c, c->moved, StalledMs);
    }
    return next;
}

void PipeEngine::Run()
{
    Accept();
    for (;;) {
        std::deque<Request> requests;
        bool stop;
        {
            std::lock_guard<std::mutex> hold(lock_);
            stop = stop_;
            if (!stop) // else left to Stop
                requests.swap(requests_);
        }
        if (stop)
            break;
        for (Request &request : requests)
            Handle(request);
        if (!name_.empty() && !accepting_)
            Accept();
        DWORD wait = Expire();
        Reap();
        if (!name_.empty() && !accepting_)
            wait = std::min(wait, RetryListenMs);
        Pump(wait);
    }
    Finish();
}

// Nothing more is written: every connection is dropped, and the engine waits
// a moment only for the cancelled I/O to come back.
void PipeEngine::Finish()
{
    for (auto &c : connections_)
        Drop(*c);
    if (accepting_)
        CancelIo(listener_.Get());
    finishing_ = true;
    const DWORD start = GetTickCount();
    while (Reap() || accepting_) {
        const DWORD passed = GetTickCount() - start;
        if (passed >= StopMs)
            break;
        Pump(StopMs - passed);
    }
    // What did not come back in time is left to the process's end: its
    // buffers may still be written to.
    for (auto &c : connections_) {
        c->pipe.Reset();
        events_->Closed(c->id);
        Trace("pipe", "connection %d closed: the engine stopped", c->id);
        c.release();
    }
    connections_.clear();
    listener_.Reset();
}

// The one wait on the port, while running and while finishing.
void PipeEngine::Pump(DWORD wait)
{
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED *done = nullptr;
    const bool ok = GetQueuedCompletionStatus(port_.Get(), &bytes, &key, &done, wait);
    if (done)
        Completed(done, bytes, ok);
}
