// The bridge from a pipe engine's thread to a window's thread.
#pragma once
#include "voiced/pipe/engine.h"
#include "voiced/pipe/names.h"
#include <windows.h>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

// Hands an engine's events to a window's thread as posted messages: opened
// and closed with the connection in wParam, a line with a PostedLine* in
// lParam (the receiver takes it with TakePosted). Nothing is lost silently when a post
// fails (the window's queue is full): a connection whose opening or line
// could not be posted is closed, so that its client connects again, and a
// closing that could not be posted waits for the window's next Drain. A
// connection whose lines the window has not taken yet pass MaxPostedLines
// or MaxPostedBytes is closed too: one client sending faster than the
// window works fills neither its queue nor the memory for the others.
class WindowEvents : public PipeEngine::Events {
  public:
    static constexpr size_t MaxPostedLines = 96; // per connection
    static constexpr size_t MaxPostedBytes = 1 << 20;
    // What a connection has posted that the window has not taken yet.
    struct Backlog {
        std::atomic<size_t> lines{0}, bytes{0};
        bool cut = false; // closed for it (the engine's thread only)
    };
    struct PostedLine {
        std::string text;
        uint64_t arrived;                           // MicrosecondsNow() when it was read
        std::shared_ptr<Backlog> backlog = nullptr; // counted in until the line goes
        size_t counted = 0;                         // bytes
        ~PostedLine()
        {
            if (backlog)
                backlog->lines--, backlog->bytes -= counted;
        }
        PostedLine(const PostedLine &) = delete; // counted out once
    };
    // The messages, the same for every window that listens to an engine;
    // a window's own messages come after them.
    static constexpr UINT OpenedMessage = WM_APP + 1; // wParam: the connection
    static constexpr UINT LineMessage = WM_APP + 2;   // and lParam: a PostedLine*
    static constexpr UINT ClosedMessage = WM_APP + 3; // wParam: the connection
    explicit WindowEvents(HWND window) : window_(window) {}
    void Attach(PipeEngine *engine) { engine_ = engine; }
    // The window's thread: the closings that could not be posted, oldest
    // first; call it often (every message of the three and a timer).
    std::vector<int> Drain();

    void Opened(int id) override;
    void Line(int id, std::string line) override { Post(id, std::move(line)); }
    void Closed(int id) override;
    // Posts a line; false when it could not be (the connection is closed).
    bool Post(int id, std::string line);

  private:
    HWND window_;
    PipeEngine *engine_ = nullptr;
    std::mutex lock_;
    std::vector<int> unposted_;                        // under lock_
    std::map<int, std::shared_ptr<Backlog>> backlogs_; // the engine's thread only
};
