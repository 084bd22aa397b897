// The channel's listening end: the engine's thread reads and writes the
// pipes, everything it reads is handed to the window's thread, where the
// HubCore lives.
#include "voiced/hub/hub.h"
#include "common/win32.h"

PipeEngine::Listening FeedbackHub::Start(const std::string &pipeName)
{
    const PipeEngine::Listening listening = engine_.Listen(pipeName);
    if (listening == PipeEngine::Listening::Yes && !engine_.Start())
        return PipeEngine::Listening::Failed;
    return listening;
}

void FeedbackHub::AnswerFile(int client, bool taken, uint32_t millis, const std::string &why)
{
    if (PostOwned(window_, FileAnswerMessage, client,
                  std::make_unique<FileAnswer>(FileAnswer{taken, millis, why})))
        return;
    // An answer that cannot reach the window would leave the client waiting:
    // its connection ends instead, which the client reports.
    engine_.Close(client);
}

void FeedbackHub::Changed()
{
    // A burst of phrases redraws the window once.
    if (refreshPosted_)
        return;
    refreshPosted_ = PostMessageA(window_, RefreshMessage, 0, 0) != 0;
}

bool FeedbackHub::Listen(int client, const std::string &path, std::string *why)
{
    if (hooks_.fileToListenTo)
        return hooks_.fileToListenTo(client, path, why);
    *why = "no recogniser";
    return false;
}

void FeedbackHub::ShowWindow()
{
    ::ShowWindow(window_, SW_SHOWNORMAL);
    SetForegroundWindow(window_);
}

void FeedbackHub::OnRefresh()
{
    refreshPosted_ = false;
    std::vector<std::string> phrases = core_.ActivePhrases();
    if (phrases == phrases_)
        return;
    phrases_ = std::move(phrases);
    if (hooks_.phrases)
        hooks_.phrases(phrases_);
}

bool FeedbackHub::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    for (int closed : events_.Drain())
        core_.Closed(closed);
    const int id = static_cast<int>(wParam);
    switch (message) {
    case WindowEvents::OpenedMessage: core_.Opened(id); return true;
    case WindowEvents::ClosedMessage: core_.Closed(id); return true;
    case WindowEvents::LineMessage:
        core_.Received(id, TakePosted<WindowEvents::PostedLine>(lParam)->text);
        return true;
    case FileAnswerMessage: {
        const std::unique_ptr<FileAnswer> answer = TakePosted<FileAnswer>(lParam);
        core_.Listened(id, answer->taken, answer->millis, answer->why);
        return true;
    }
    case RefreshMessage: OnRefresh(); return false; // the window redraws too
    }
    return false;
}
