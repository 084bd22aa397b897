// A service process's connection to the hub, kept up from a timer on the
// service's thread; the pipe itself runs on the engine's thread.
#include "voiced/service/hublink.h"
#include "voiced/pipe/client.h"
#include "voiced/pipe/peer.h"

namespace {

// Starting the hub again is left this long, so that a hub that fails to
// start is not started in a loop.
constexpr DWORD HubRestartMs = 3000;
// A pipe held by another program is looked at again this often.
constexpr DWORD RefusedRetryMs = 5000;

bool HubRunning()
{
    const ScopedHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, HubMutexName().c_str()));
    return static_cast<bool>(mutex);
}

bool StartHidden(const std::string &program) // in UTF-8
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    const std::wstring path = WideFromUtf8(program);
    std::wstring commandLine = L"\"" + path + L"\"";
    if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    const ScopedHandle thread(process.hThread), started(process.hProcess); // runs on its own
    return true;
}

} // namespace

HubLink::HubLink(HWND window, std::string pipeName, std::string hubProgram)
    : WindowEvents(window), pipeName_(std::move(pipeName)), hubProgram_(std::move(hubProgram)),
      engine_(this)
{
    Attach(&engine_);
    engine_.Start();
}

HubLink::~HubLink()
{
    engine_.Stop();
}

bool HubLink::Poll()
{
    if (connection_ || pending_)
        return connection_ != 0;
    const DWORD now = GetTickCount();
    if (!refusal_.empty() && now - refused_ < RefusedRetryMs)
        return false;
    std::string refusal;
    HANDLE pipe = OpenPipe(pipeName_, hubProgram_, 0, &refusal);
    if (pipe != INVALID_HANDLE_VALUE) {
        refusal_.clear();
        pending_ = engine_.Adopt(pipe);
        // Said at once, not when the window hears of the connection: the
        // window's thread may be in a long call while the hub waits for it.
        engine_.Send(pending_, FormatServiceNotice({GetCurrentProcessId()}));
        return false;
    }
    if (!refusal.empty()) {
        // Another program holds the hub's name: a hub started now could
        // not listen either.
        if (refusal != refusal_)
            OutputDebugStringA(
                ("nelkovoice: the voice hub's pipe was refused: " + refusal + "\n").c_str());
        refusal_ = refusal;
        refused_ = now;
        return false;
    }
    if (!hubProgram_.empty() && !HubRunning() && (!started_ || now - lastStart_ > HubRestartMs)) {
        started_ = true;
        lastStart_ = now;
        StartHidden(hubProgram_);
    }
    return false;
}

void HubLink::Send(const std::string &line)
{
    if (connection_)
        engine_.Send(connection_, line);
}

void HubLink::OnOpened(int id)
{
    if (id == pending_) {
        connection_ = id;
        pending_ = 0;
    }
}

void HubLink::OnClosed(int id)
{
    if (id == connection_)
        connection_ = 0;
    if (id == pending_)
        pending_ = 0;
}

// The engine's thread: a phrase beyond what the window may hold is dropped
// here, and a level while one is still posted only replaces the level it
// will take; everything else goes to the window, in order.
void HubLink::Line(int id, std::string line)
{
    uint32_t dropped = 0;
    switch (gate_.Arrived(line, &dropped)) {
    case LinkGate::Action::AnswerDropped: engine_.Send(id, FormatDroppedNotice(dropped)); break;
    case LinkGate::Action::Post:
        if (!Post(id, line))
            gate_.NotPosted(line);
        break;
    case LinkGate::Action::Keep: break;
    }
}
