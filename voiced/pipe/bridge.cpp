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
        const Backlogs::Hand hand = backlogs_.Add(id, line.size());
        if (hand == Backlogs::Hand::CutNow) {
            Trace("pipe", "connection %d closed: its lines pile up", id);
            if (engine_)
                engine_->Close(id);
        }
        if (hand != Backlogs::Hand::On)
            return false;
    }
    mail_.Post({Event::Line, id, std::move(line), MicrosecondsNow()});
    return true;
}

void WindowEvents::Closed(int id)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        backlogs_.Closed(id);
    }
    mail_.Post({Event::Closed, id, {}, 0});
}

bool WindowEvents::Next(Event *event)
{
    if (!mail_.Next(event))
        return false;
    std::lock_guard<std::mutex> hold(lock_);
    if (event->kind == Event::Line)
        backlogs_.Taken(event->id, event->line.size());
    return true;
}
