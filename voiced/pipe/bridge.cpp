// The bridge from a pipe engine's thread to a window's.
#include "voiced/pipe/bridge.h"
#include "voiced/core/trace.h"

void WindowEvents::Opened(int id)
{
    if (!PostMessageA(window_, OpenedMessage, id, 0) && engine_)
        engine_->Close(id);
}

bool WindowEvents::Post(int id, std::string line)
{
    std::shared_ptr<Backlog> &backlog = backlogs_[id];
    if (!backlog)
        backlog = std::make_shared<Backlog>();
    const size_t size = line.size();
    if (backlog->cut)
        return false;
    if (backlog->lines >= MaxPostedLines || backlog->bytes + size > MaxPostedBytes) {
        Trace("pipe", "connection %d closed: its lines pile up", id);
        backlog->cut = true;
        if (engine_)
            engine_->Close(id);
        return false;
    }
    backlog->lines++, backlog->bytes += size;
    // Made in place: a copy would count the line out as it goes.
    std::unique_ptr<PostedLine> posted(
        new PostedLine{std::move(line), MicrosecondsNow(), backlog, size});
    if (PostOwned(window_, LineMessage, id, std::move(posted)))
        return true;
    if (engine_)
        engine_->Close(id);
    return false;
}

void WindowEvents::Closed(int id)
{
    backlogs_.erase(id);
    if (PostMessageA(window_, ClosedMessage, id, 0))
        return;
    std::lock_guard<std::mutex> hold(lock_);
    unposted_.push_back(id);
}

std::vector<int> WindowEvents::Drain()
{
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<int> closed;
    closed.swap(unposted_);
    return closed;
}
