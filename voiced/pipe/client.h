// A client of the hub's pipe: the checked opening every client makes, and
// the short-exchange client (/say, the probe).
#pragma once
#include "common/feedback.h"
#include "common/win32.h"
#include "voiced/core/channel.h"
#include "voiced/pipe/names.h"
#include <windows.h>
#include <deque>
#include <string>

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
