// A service process's connection to the hub, kept up from a timer on the
// service's thread; the pipe itself runs on the engine's thread.
#include "voiced/service.h"

namespace {

// Starting the hub again is left this long, so that a hub that fails to
// start is not started in a loop.
constexpr DWORD HubRestartMs = 3000;

bool HubRunning()
{
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, HubMutexName().c_str());
    if (!mutex)
        return false;
    CloseHandle(mutex);
    return true;
}

bool StartHidden(const std::string &program)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    std::string commandLine = "\"" + program + "\"";
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

} // namespace

HubLink::HubLink(HWND window, std::string pipeName, std::string hubProgram)
    : window_(window), pipeName_(std::move(pipeName)), hubProgram_(std::move(hubProgram)),
      engine_(this)
{
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
    HANDLE pipe = OpenPipe(pipeName_, 0);
    if (pipe != INVALID_HANDLE_VALUE) {
        pending_ = engine_.Adopt(pipe);
        return false;
    }
    const DWORD now = GetTickCount();
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

// The engine's thread: everything goes to the window, in order.
void HubLink::Opened(int id)
{
    PostMessageA(window_, LinkOpenedMessage, id, 0);
}

void HubLink::Line(int id, std::string line)
{
    ChannelMessage message;
    PhraseNotice notice;
    const bool phrase = ParseChannelLine(line, &message) && ParsePhraseNotice(message, &notice);
    if (phrase && postedPhrases_ >= MaxPostedPhrases) {
        DoneNotice dropped;
        dropped.seq = notice.seq;
        dropped.outcome = Outcome::Dropped;
        engine_.Send(id, FormatDoneNotice(dropped));
        return;
    }
    postedPhrases_ += phrase;
    auto *posted = new HubLine{std::move(line), MicrosecondsNow(), phrase};
    if (!PostMessageA(window_, LinkLineMessage, id, reinterpret_cast<LPARAM>(posted))) {
        postedPhrases_ -= phrase;
        delete posted;
    }
}

void HubLink::Closed(int id)
{
    PostMessageA(window_, LinkClosedMessage, id, 0);
}
