// The bridge from a pipe engine's thread to a window's thread.
#pragma once
#include "voiced/core/backlog.h"
#include "voiced/pipe/engine.h"
#include "voiced/pipe/names.h"
#include <windows.h>
#include <string>
#include <mutex>

// Hands an engine's events to a window's thread. They wait in a mailbox the
// bridge owns; the window is only rung with a registered message that
// carries nothing (Doorbell), and takes them one by one with Next, on the
// doorbell and on a timer of its own. A forged doorbell finds the queue as
// it is, and nothing the window receives names a connection or a buffer. A
// connection whose lines the window has not taken yet pass MaxPostedLines
// or MaxPostedBytes is closed: one client sending faster than the window
// works fills the memory for no other.
class WindowEvents : public PipeEngine::Events {
  public:
    // Per connection: two whole publications of a service and room for
    // the rest (PipeEngine::MaxPublication).
    static constexpr size_t MaxPostedLines = 2 * MaxServiceMenus + 64;
    static constexpr size_t MaxPostedBytes = PipeEngine::MaxQueuedBytes;
    struct Event {
        enum Kind { Opened, Line, Closed } kind = Opened;
        int id = 0;
        std::string line;
        uint64_t arrived = 0; // a line: MicrosecondsNow() when it was read
    };
    explicit WindowEvents(HWND window);
    void Attach(PipeEngine *engine) { engine_ = engine; }
    UINT Doorbell() const { return mail_.Doorbell(); }
    // The window's thread: the oldest event waiting; false when none waits.
    bool Next(Event *event);

    void Opened(int id) override;
    void Line(int id, std::string line) override { Post(id, std::move(line)); }
    void Closed(int id) override;
    // Hands a line on; false when its connection is cut off for its backlog.
    bool Post(int id, std::string line);

  private:
    PipeEngine *engine_ = nullptr;
    Mailbox<Event> mail_;
    std::mutex lock_;
    Backlogs backlogs_{MaxPostedLines, MaxPostedBytes}; // under lock_
};
