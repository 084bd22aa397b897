// Named-pipe connections carrying channel lines, with overlapped I/O on one
// thread per engine: a blocking read would hold up writes on the same handle.
#include "voiced/pipe.h"
#include <algorithm>

namespace {

constexpr DWORD PipeBuffer = 64 * 1024;
constexpr DWORD ReadChunk = 16 * 1024;

std::string ProgramFolder()
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n < MAX_PATH ? n : 0);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

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
    return ProgramFolder() + "Feedback.exe";
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

struct PipeEngine::Connection {
    int id = 0;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED read = {};
    OVERLAPPED write = {};
    bool reading = false;
    bool writing = false;
    bool closing = false; // no more reads; shut once the queue is written
    char buffer[ReadChunk];
    LineReader lines;
    std::deque<std::string> queue;
    size_t queued = 0; // bytes in queue
    std::string outgoing;
    size_t written = 0;

    Connection()
    {
        read.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~Connection()
    {
        CloseHandle(read.hEvent);
        CloseHandle(write.hEvent);
    }
};

HANDLE PipeEngine::NewInstance(bool first)
{
    const DWORD open =
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    HANDLE pipe = CreateNamedPipeA(name_.c_str(), open,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT |
                                       PIPE_REJECT_REMOTE_CLIENTS,
                                   PIPE_UNLIMITED_INSTANCES, PipeBuffer, PipeBuffer, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
        pipe =
            CreateNamedPipeA(name_.c_str(), open, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                             PIPE_UNLIMITED_INSTANCES, PipeBuffer, PipeBuffer, 0, nullptr);
    return pipe;
}

PipeEngine::PipeEngine(Events *events) : events_(events) {}

PipeEngine::~PipeEngine()
{
    Stop();
}

bool PipeEngine::Listen(const std::string &name)
{
    name_ = name;
    listener_ = NewInstance(true);
    if (listener_ == INVALID_HANDLE_VALUE)
        return false;
    accept_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return accept_.hEvent != nullptr;
}

bool PipeEngine::Start()
{
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!wake_)
        return false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void PipeEngine::Stop()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    SetEvent(wake_);
    thread_.join();
    CloseHandle(wake_);
    wake_ = nullptr;
}

int PipeEngine::Adopt(HANDLE pipe)
{
    std::lock_guard<std::mutex> hold(lock_);
    const int id = nextId_++;
    requests_.push_back({Request::Adopt, id, pipe, {}});
    SetEvent(wake_);
    return id;
}

void PipeEngine::Send(int id, std::string line)
{
    std::lock_guard<std::mutex> hold(lock_);
    requests_.push_back({Request::Send, id, nullptr, std::move(line)});
    SetEvent(wake_);
}

void PipeEngine::Close(int id)
{
    std::lock_guard<std::mutex> hold(lock_);
    requests_.push_back({Request::Close, id, nullptr, {}});
    SetEvent(wake_);
}

// Waits for a client on the listening instance; true while one is awaited.
bool PipeEngine::Accept()
{
    if (listener_ == INVALID_HANDLE_VALUE)
        return false;
    ResetEvent(accept_.hEvent);
    // A client that came before the wait is connected already; the
    // OVERLAPPED then reports nothing.
    connectedAlready_ = ConnectNamedPipe(listener_, &accept_) != 0;
    if (!connectedAlready_) {
        const DWORD error = GetLastError();
        connectedAlready_ = error == ERROR_PIPE_CONNECTED;
        if (!connectedAlready_ && error != ERROR_IO_PENDING)
            return false;
    }
    if (connectedAlready_)
        SetEvent(accept_.hEvent);
    accepting_ = true;
    return true;
}

void PipeEngine::Take(int id, HANDLE pipe)
{
    if (connections_.size() >= MaxConnections) {
        CloseHandle(pipe);
        return;
    }
    auto c = std::make_unique<Connection>();
    c->id = id;
    c->pipe = pipe;
    connections_.push_back(std::move(c));
    events_->Opened(id);
    StartRead(*connections_.back());
}

void PipeEngine::StartRead(Connection &c)
{
    if (c.closing || c.reading)
        return;
    if (ReadFile(c.pipe, c.buffer, sizeof c.buffer, nullptr, &c.read) ||
        GetLastError() == ERROR_IO_PENDING) {
        c.reading = true;
        return;
    }
    c.closing = true; // the peer has gone
    c.queue.clear();
}

void PipeEngine::FinishRead(Connection &c)
{
    DWORD got = 0;
    if (!GetOverlappedResult(c.pipe, &c.read, &got, FALSE)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE)
            return;
        c.reading = false;
        c.closing = true;
        c.queue.clear();
        return;
    }
    c.reading = false;
    if (c.closing)
        return;
    std::vector<std::string> lines;
    const bool ok = c.lines.Feed(c.buffer, got, &lines);
    for (std::string &line : lines)
        events_->Line(c.id, std::move(line));
    if (!ok) {
        c.closing = true;
        c.queue.clear();
        return;
    }
    StartRead(c);
}

void PipeEngine::StartWrite(Connection &c)
{
    while (!c.writing && (!c.queue.empty() || c.written < c.outgoing.size())) {
        if (c.written >= c.outgoing.size()) {
            c.outgoing = std::move(c.queue.front());
            c.queue.pop_front();
            c.queued -= c.outgoing.size();
            c.written = 0;
        }
        const DWORD size = static_cast<DWORD>(c.outgoing.size() - c.written);
        if (WriteFile(c.pipe, c.outgoing.data() + c.written, size, nullptr, &c.write) ||
            GetLastError() == ERROR_IO_PENDING) {
            c.writing = true;
            return;
        }
        c.closing = true;
        c.queue.clear();
        c.outgoing.clear();
        c.written = 0;
    }
}

void PipeEngine::FinishWrite(Connection &c)
{
    DWORD done = 0;
    if (!GetOverlappedResult(c.pipe, &c.write, &done, FALSE)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE)
            return;
        c.writing = false;
        c.closing = true;
        c.queue.clear();
        c.outgoing.clear();
        c.written = 0;
        return;
    }
    c.writing = false;
    c.written += done;
    StartWrite(c);
}

void PipeEngine::Shut(Connection &c)
{
    if (c.reading || c.writing) {
        CancelIo(c.pipe);
        DWORD ignored;
        if (c.reading)
            GetOverlappedResult(c.pipe, &c.read, &ignored, TRUE);
        if (c.writing)
            GetOverlappedResult(c.pipe, &c.write, &ignored, TRUE);
        c.reading = c.writing = false;
    }
    FlushFileBuffers(c.pipe);
    DisconnectNamedPipe(c.pipe); // fails harmlessly on a client end
    CloseHandle(c.pipe);
    c.pipe = INVALID_HANDLE_VALUE;
    events_->Closed(c.id);
}

void PipeEngine::Handle(Request &request)
{
    if (request.kind == Request::Adopt)
        return Take(request.id, request.pipe);
    auto it = std::find_if(connections_.begin(), connections_.end(),
                           [&](const auto &c) { return c->id == request.id; });
    if (it == connections_.end())
        return;
    Connection &c = **it;
    if (request.kind == Request::Close) {
        // What was queued before is still written; a read in flight is
        // cancelled when the connection is shut.
        c.closing = true;
        return StartWrite(c);
    }
    if (c.closing)
        return;
    c.queued += request.line.size();
    c.queue.push_back(std::move(request.line));
    if (c.queued > MaxQueuedBytes) { // a peer that does not read
        c.closing = true;
        c.queue.clear();
        c.queued = 0;
        return;
    }
    StartWrite(c);
}

void PipeEngine::Run()
{
    if (listener_ != INVALID_HANDLE_VALUE)
        Accept();
    for (;;) {
        std::deque<Request> requests;
        bool stop;
        {
            std::lock_guard<std::mutex> hold(lock_);
            requests.swap(requests_);
            stop = stop_;
        }
        if (stop)
            break;
        for (Request &request : requests)
            Handle(request);

        // Completed accepts, reads and writes, whichever event woke us.
        if (accepting_ && WaitForSingleObject(accept_.hEvent, 0) == WAIT_OBJECT_0) {
            DWORD ignored;
            accepting_ = false;
            HANDLE client = listener_;
            const bool connected =
                connectedAlready_ || GetOverlappedResult(listener_, &accept_, &ignored, FALSE);
            listener_ = NewInstance(false);
            if (connected) {
                int id;
                {
                    std::lock_guard<std::mutex> hold(lock_);
                    id = nextId_++;
                }
                Take(id, client);
            } else {
                CloseHandle(client);
            }
            Accept();
        }
        for (auto &c : connections_) {
            if (c->reading && WaitForSingleObject(c->read.hEvent, 0) == WAIT_OBJECT_0)
                FinishRead(*c);
            if (c->writing && WaitForSingleObject(c->write.hEvent, 0) == WAIT_OBJECT_0)
                FinishWrite(*c);
        }
        for (auto it = connections_.begin(); it != connections_.end();) {
            Connection &c = **it;
            const bool drained = !c.writing && c.queue.empty() && c.written >= c.outgoing.size();
            if (c.closing && drained) {
                Shut(c);
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }

        // A listening instance that could not be made is tried again.
        if (!name_.empty() && listener_ == INVALID_HANDLE_VALUE) {
            listener_ = NewInstance(false);
            Accept();
        }
        std::vector<HANDLE> waits = {wake_};
        if (accepting_)
            waits.push_back(accept_.hEvent);
        for (auto &c : connections_) {
            if (c->reading)
                waits.push_back(c->read.hEvent);
            if (c->writing)
                waits.push_back(c->write.hEvent);
        }
        const bool lost = !name_.empty() && listener_ == INVALID_HANDLE_VALUE;
        WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE,
                               lost ? 1000 : INFINITE);
    }
    for (auto &c : connections_) {
        c->queue.clear();
        c->outgoing.clear();
        Shut(*c);
    }
    connections_.clear();
    if (accepting_) {
        CancelIo(listener_);
        DWORD ignored;
        GetOverlappedResult(listener_, &accept_, &ignored, TRUE);
        accepting_ = false;
    }
    if (listener_ != INVALID_HANDLE_VALUE)
        CloseHandle(listener_);
    listener_ = INVALID_HANDLE_VALUE;
    if (accept_.hEvent)
        CloseHandle(accept_.hEvent);
    accept_.hEvent = nullptr;
}

// ---------------------------------------------------------------------------

HANDLE OpenPipe(const std::string &name, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        HANDLE pipe = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE)
            return pipe;
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

bool PipeClient::Connect(const std::string &name, DWORD timeoutMs)
{
    Disconnect();
    pipe_ = OpenPipe(name, timeoutMs);
    if (pipe_ == INVALID_HANDLE_VALUE)
        return false;
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    reader_ = LineReader();
    lines_.clear();
    return event_ != nullptr;
}

void PipeClient::Disconnect()
{
    if (pipe_ != INVALID_HANDLE_VALUE)
        CloseHandle(pipe_);
    if (event_)
        CloseHandle(event_);
    pipe_ = INVALID_HANDLE_VALUE;
    event_ = nullptr;
}

bool PipeClient::Send(const std::string &line)
{
    if (pipe_ == INVALID_HANDLE_VALUE)
        return false;
    size_t at = 0;
    while (at < line.size()) {
        OVERLAPPED ov = {};
        ov.hEvent = event_;
        DWORD done = 0;
        if (!WriteFile(pipe_, line.data() + at, static_cast<DWORD>(line.size() - at), nullptr,
                       &ov) &&
            GetLastError() != ERROR_IO_PENDING)
            return false;
        if (!GetOverlappedResult(pipe_, &ov, &done, TRUE))
            return false;
        at += done;
    }
    return true;
}

bool PipeClient::ReadLine(std::string *line, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (lines_.empty()) {
        if (pipe_ == INVALID_HANDLE_VALUE)
            return false;
        char buffer[4096];
        OVERLAPPED ov = {};
        ov.hEvent = event_;
        DWORD got = 0;
        if (!ReadFile(pipe_, buffer, sizeof buffer, nullptr, &ov) &&
            GetLastError() != ERROR_IO_PENDING)
            return false;
        const DWORD waited = GetTickCount() - start;
        if (WaitForSingleObject(event_, waited >= timeoutMs ? 0 : timeoutMs - waited) !=
            WAIT_OBJECT_0) {
            CancelIo(pipe_);
            GetOverlappedResult(pipe_, &ov, &got, TRUE);
            // A read that completed while being cancelled still counts.
            std::vector<std::string> late;
            if (got)
                reader_.Feed(buffer, got, &late);
            lines_.insert(lines_.end(), late.begin(), late.end());
            if (lines_.empty())
                return false;
            break;
        }
        if (!GetOverlappedResult(pipe_, &ov, &got, FALSE))
            return false;
        std::vector<std::string> read;
        if (!reader_.Feed(buffer, got, &read))
            return false;
        lines_.insert(lines_.end(), read.begin(), read.end());
    }
    *line = std::move(lines_.front());
    lines_.pop_front();
    return true;
}
