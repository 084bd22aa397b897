// The short-exchange client: one connection, lines out and in with time
// limits, on the caller's thread.
#include "voiced/pipe/client.h"
#include "voiced/pipe/peer.h"
#include <algorithm>

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
