// The bridge from a pipe engine's thread to a window's.
#include "voiced/pipe/bridge.h"
#include "voiced/core/trace.h"

WindowEvents::WindowEvents(HWND window) : mail_(window, SessionMessage("NelkoVoiceChannel")) {}

void WindowEvents::Opened(int id)
{
    mail_.Post({Event::Opened, id, {}, 0});
}

bool WindowEvents::Post(int id, std::string line)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        Backlog &backlog = backlogs_[id];
        if (backlog.cut)
            return false;
        if (backlog.lines >= MaxPostedLines || backlog.bytes + line.size() > MaxPostedBytes) {
            Trace("pipe", "connection %d closed: its lines pile up", id);
            backlog.cut = true;
            if (engine_)
                engine_->Close(id);
            return false;
        }
        backlog.lines++, backlog.bytes += line.size();
    }
    mail_.Post({Event::Line, id, std::move(line), MicrosecondsNow()});
    return true;
}

void WindowEvents::Closed(int id)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        backlogs_.erase(id);
    }
    mail_.Post({Event::Closed, id, {}, 0});
}

bool WindowEvents::Next(Event *event)
{
    if (!mail_.Next(event))
        return false;
    std::lock_guard<std::mutex> hold(lock_);
    const auto backlog = backlogs_.find(event->id);
    if (event->kind == Event::Line && backlog != backlogs_.end())
        backlog->second.lines--, backlog->second.bytes -= event->line.size();
    return true;
}
