// The channel's listening end: the engine's thread reads and writes the
// pipes, everything it reads is handed to the window's thread, where the
// HubCore lives.
#include "voiced/hub/hub.h"

PipeEngine::Listening FeedbackHub::Start(const std::string &pipeName)
{
    const PipeEngine::Listening listening = engine_.Listen(pipeName);
    if (listening == PipeEngine::Listening::Yes && !engine_.Start())
        return PipeEngine::Listening::Failed;
    return listening;
}

void FeedbackHub::PostSay(HWND window, const std::string &phrase)
{
    auto *posted = new std::string(phrase);
    if (!PostMessageA(window, SayMessage, 0, reinterpret_cast<LPARAM>(posted)))
        delete posted;
}

void FeedbackHub::Listened(int client, bool taken, uint32_t millis, const std::string &why)
{
    auto *posted = new Answer{taken, millis, why};
    if (PostMessageA(window_, ListenedMessage, client, reinterpret_cast<LPARAM>(posted)))
        return;
    // An answer that cannot reach the window would leave the client waiting:
    // its connection ends instead, which the client reports.
    delete posted;
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
    if (OnListen)
        return OnListen(client, path, why);
    *why = "no recogniser";
    return false;
}

void FeedbackHub::ShowWindow()
{
    ::ShowWindow(window_, SW_SHOWNORMAL);
    SetForegroundWindow(window_);
}

bool FeedbackHub::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    for (int closed : events_.Drain())
        core_.Closed(closed);
    const int id = static_cast<int>(wParam);
    switch (message) {
    case OpenedMessage: core_.Opened(id); return true;
    case ClosedMessage: core_.Closed(id); return true;
    case LineMessage: {
        std::unique_ptr<WindowEvents::PostedLine> line(
            reinterpret_cast<WindowEvents::PostedLine *>(lParam));
        core_.Received(id, line->text);
        return true;
    }
    case SayMessage: {
        std::unique_ptr<std::string> phrase(reinterpret_cast<std::string *>(lParam));
        core_.Say(*phrase);
        return true;
    }
    case ListenedMessage: {
        std::unique_ptr<Answer> answer(reinterpret_cast<Answer *>(lParam));
        core_.Listened(id, answer->taken, answer->millis, answer->why);
        return true;
    }
    case RefreshMessage: {
        refreshPosted_ = false;
        std::vector<std::string> phrases = core_.ActivePhrases();
        if (phrases != phrases_) {
            phrases_ = std::move(phrases);
            if (OnPhrasesChanged)
                OnPhrasesChanged(phrases_);
        }
        return false; // the window redraws too
    }
    }
    return false;
}
