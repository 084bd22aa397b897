// Named-pipe connections carrying channel lines, with overlapped I/O on one
// thread per engine: a blocking read would hold up writes on the same handle.
#include "voiced/pipe/pipe.h"
#include "voiced/core/trace.h"
#include <sddl.h>
#include <algorithm>

namespace {

constexpr DWORD PipeBuffer = 64 * 1024;
constexpr DWORD ReadChunk = 16 * 1024;

DWORD SessionId()
{
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session))
        session = 0;
    return session;
}

} // namespace

std::string HubPipeName()
{
    return "\\\\.\\pipe\\NelkoVoiceHub-" + std::to_string(SessionId());
}

std::string HubMutexName()
{
    return "Local\\NelkoVoiceHub";
}

std::string HubProgramPath()
{
    return ProgramFolder() + FeedbackProgram;
}

uint64_t MicrosecondsNow()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart / frequency.QuadPart * 1000000 +
                                 now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart);
}

// ---------------------------------------------------------------------------

namespace {

constexpr ULONG_PTR WakeKey = 1; // a request waits, or Stop
constexpr ULONG_PTR PipeKey = 2; // an accept, read or write completed
constexpr DWORD RetryListenMs = 1000;
constexpr DWORD StopMs = 1000; // for cancelled I/O to come back
constexpr int AcceptTries = 16;

// The user a process runs as, as a SID string ("S-1-5-21-..."); empty when
// it cannot be read.
std::string UserOf(HANDLE process)
{
    std::string sid;
    ScopedHandle token;
    if (!OpenProcessToken(process, TOKEN_QUERY, token.Put()))
        return sid;
    char buffer[256];
    DWORD size = 0;
    char *text = nullptr;
    if (GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    return sid;
}

// The full path of a program, as the system names it (long names).
std::string LongPath(const std::string &path)
{
    char full[MAX_PATH];
    const DWORD n = GetLongPathNameA(path.c_str(), full, sizeof full);
    return n > 0 && n < sizeof full ? std::string(full, n) : path;
}

// Who serves a pipe: empty when it is the program at server running as this
// user, else why it is not.
std::string CheckServer(HANDLE pipe, const std::string &server)
{
    ULONG pid = 0;
    if (!GetNamedPipeServerProcessId(pipe, &pid))
        return "its server cannot be identified";
    const std::string unknown =
        "its server (process " + std::to_string(pid) + ") cannot be identified";
    const ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process)
        return unknown;
    char image[MAX_PATH];
    DWORD size = sizeof image;
    std::string why, user;
    if (!QueryFullProcessImageNameA(process.Get(), 0, image, &size))
        why = unknown;
    else if (lstrcmpiA(LongPath(std::string(image, size)).c_str(), LongPath(server).c_str()) != 0)
        why = "it is served by " + std::string(image, size) + ", not by " + server;
    else if ((user = UserOf(process.Get())).empty() || user != UserOf(GetCurrentProcess()))
        why = "its server runs as another user";
    return why;
}

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
    const std::string sddl = "D:P(A;;GA;;;" + sid + ")(A;;GA;;;SY)";
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

int PipeEngine::Adopt(HANDLE pipe)
{
    int id;
    {
        std::lock_guard<std::mutex> hold(lock_);
        id = nextId_++;
    }
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
    int id;
    {
        std::lock_guard<std::mutex> hold(lock_);
        id = nextId_++;
    }
    Take(id, std::move(listener_), false);
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
    if (done == &accept_)
        return Accepted(ok);
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

        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED *done = nullptr;
        const bool ok = GetQueuedCompletionStatus(port_.Get(), &bytes, &key, &done, wait);
        if (done)
            Completed(done, bytes, ok);
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
    const DWORD start = GetTickCount();
    while (Reap() || accepting_) {
        const DWORD passed = GetTickCount() - start;
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED *done = nullptr;
        if (passed >= StopMs)
            break;
        const bool ok =
            GetQueuedCompletionStatus(port_.Get(), &bytes, &key, &done, StopMs - passed);
        if (done == &accept_)
            accepting_ = false;
        else if (done)
            Completed(done, bytes, ok);
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

// ---------------------------------------------------------------------------

void WindowEvents::Opened(int id)
{
    if (!PostMessageA(window_, OpenedMessage, id, 0) && engine_)
        engine_->Close(id);
}

bool WindowEvents::Post(int id, std::string line)
{
    std::shared_ptr<Backlog> &backlog = backlogs_[id];
    if (!backlog)
        backlog = std::make_shared<Backlog>();
    const size_t size = line.size();
    if (backlog->cut)
        return false;
    if (backlog->lines >= MaxPostedLines || backlog->bytes + size > MaxPostedBytes) {
        Trace("pipe", "connection %d closed: its lines pile up", id);
        backlog->cut = true;
        if (engine_)
            engine_->Close(id);
        return false;
    }
    backlog->lines++, backlog->bytes += size;
    // Made in place: a copy would count the line out as it goes.
    std::unique_ptr<PostedLine> posted(
        new PostedLine{std::move(line), MicrosecondsNow(), backlog, size});
    if (PostOwned(window_, LineMessage, id, std::move(posted)))
        return true;
    if (engine_)
        engine_->Close(id);
    return false;
}

void WindowEvents::Closed(int id)
{
    backlogs_.erase(id);
    if (PostMessageA(window_, ClosedMessage, id, 0))
        return;
    std::lock_guard<std::mutex> hold(lock_);
    unposted_.push_back(id);
}

std::vector<int> WindowEvents::Drain()
{
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<int> closed;
    closed.swap(unposted_);
    return closed;
}

// ---------------------------------------------------------------------------

HANDLE OpenPipe(const std::string &name, const std::string &server, DWORD timeoutMs,
                std::string *refusal)
{
    const DWORD start = GetTickCount();
    for (;;) {
        ScopedHandle pipe(CreateFileA(
            name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
            FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        if (pipe) {
            const std::string why = CheckServer(pipe.Get(), server);
            if (why.empty())
                return pipe.Release();
            pipe.Reset();
            if (refusal)
                *refusal = why;
            return INVALID_HANDLE_VALUE;
        }
        const DWORD error = GetLastError();
        const DWORD waited = GetTickCount() - start;
        if (waited >= timeoutMs)
            return INVALID_HANDLE_VALUE;
        if (error == ERROR_PIPE_BUSY)
            WaitNamedPipeA(name.c_str(), timeoutMs - waited);
        else
            Sleep(std::min<DWORD>(50, timeoutMs - waited));
    }
}

bool PipeClient::Connect(const std::string &name, const std::string &server, DWORD timeoutMs)
{
    Disconnect();
    refusal_.clear();
    pipe_.Reset(OpenPipe(name, server, timeoutMs, &refusal_));
    if (!pipe_)
        return false;
    event_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    reader_ = LineReader();
    lines_.clear();
    return static_cast<bool>(event_);
}

void PipeClient::Disconnect()
{
    pipe_.Reset();
    event_.Reset();
}

PipeClient::Io PipeClient::Await(OVERLAPPED &ov, bool started, DWORD start, DWORD timeoutMs,
                                 DWORD *moved)
{
    *moved = 0;
    if (!started)
        return Io::Failed;
    const DWORD waited = GetTickCount() - start;
    if (WaitForSingleObject(event_.Get(), waited >= timeoutMs ? 0 : timeoutMs - waited) !=
        WAIT_OBJECT_0) {
        CancelIo(pipe_.Get());
        GetOverlappedResult(pipe_.Get(), &ov, moved, TRUE);
        return Io::Late;
    }
    return GetOverlappedResult(pipe_.Get(), &ov, moved, FALSE) ? Io::Done : Io::Failed;
}

bool PipeClient::Send(const std::string &line, DWORD timeoutMs)
{
    if (!pipe_)
        return false;
    const DWORD start = GetTickCount();
    size_t at = 0;
    while (at < line.size()) {
        OVERLAPPED ov = {};
        ov.hEvent = event_.Get();
        const bool started = WriteFile(pipe_.Get(), line.data() + at,
                                       static_cast<DWORD>(line.size() - at), nullptr, &ov) ||
                             GetLastError() == ERROR_IO_PENDING;
        DWORD done = 0;
        const Io io = Await(ov, started, start, timeoutMs, &done);
        if (io == Io::Late) {
            // The server reads nothing: part of a line may have gone, so
            // the connection is of no further use.
            Disconnect();
            return false;
        }
        if (io == Io::Failed)
            return false;
        at += done;
    }
    return true;
}

bool PipeClient::ReadLine(std::string *line, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (lines_.empty()) {
        if (!pipe_)
            return false;
        char buffer[4096];
        OVERLAPPED ov = {};
        ov.hEvent = event_.Get();
        const bool started = ReadFile(pipe_.Get(), buffer, sizeof buffer, nullptr, &ov) ||
                             GetLastError() == ERROR_IO_PENDING;
        DWORD got = 0;
        const Io io = Await(ov, started, start, timeoutMs, &got);
        if (io == Io::Failed)
            return false;
        // A read that completed while being cancelled still counts.
        std::vector<std::string> read;
        if (!reader_.Feed(buffer, got, &read) && io == Io::Done)
            return false;
        lines_.insert(lines_.end(), read.begin(), read.end());
        if (io == Io::Late) {
            if (lines_.empty())
                return false;
            break;
        }
    }
    *line = std::move(lines_.front());
    lines_.pop_front();
    return true;
}
