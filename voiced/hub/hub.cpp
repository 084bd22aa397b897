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
    // The client may have gone meanwhile: HubCore answers only its own.
    Post([this, client, taken, millis, why] { core_.Listened(client, taken, millis, why); });
}

void FeedbackHub::Changed()
{
    // A burst of phrases redraws the window once.
    if (refreshPosted_)
        return;
    refreshPosted_ = true;
    Post([this] { OnRefresh(); });
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
    if (phrases != phrases_) {
        phrases_ = std::move(phrases);
        if (hooks_.phrases)
            hooks_.phrases(phrases_);
    }
    if (hooks_.changed)
        hooks_.changed();
}

void FeedbackHub::TakeEvents()
{
    for (WindowEvents::Event event; events_.Next(&event);) {
        switch (event.kind) {
        case WindowEvents::Event::Opened: core_.Opened(event.id); break;
        case WindowEvents::Event::Line: core_.Received(event.id, event.line); break;
        case WindowEvents::Event::Closed: core_.Closed(event.id); break;
        }
    }
}

void FeedbackHub::TakeWork()
{
    for (std::function<void()> work; work_.Next(&work);)
        work();
}

bool FeedbackHub::Handle(UINT message)
{
    const bool doorbell = message == events_.Doorbell() || message == work_.Doorbell();
    if (doorbell || message == WM_TIMER) {
        TakeEvents();
        TakeWork();
    }
    return doorbell;
}
