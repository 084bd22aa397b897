#pragma once
#include "voiced/pipe/bridge.h"
#include "voiced/pipe/engine.h"
#include <windows.h>

// The link from a service process to the hub: connects (starting the hub
// hidden when none runs), passes the hub's lines to a window of the service's
// thread, and takes the lines the service publishes. Reconnects when the hub
// goes away. A pipe of that name served by another program than the hub is
// refused before anything is sent to it.
class HubLink : WindowEvents {
  public:
    // The window takes the link's events with Next, on the doorbell and on
    // its timer.
    using WindowEvents::Doorbell;
    using WindowEvents::Event;
    using WindowEvents::Next;
    // PHRASE lines handed to the window and not handled yet. While the
    // service's thread is inside a call into its client it may handle none;
    // a phrase beyond MaxPostedPhrases is answered at once as dropped. Of
    // LEVEL lines only the latest level counts: at most one waits at a time.
    // The window tells the link each line it handles (LinkGate::Handled).
    static constexpr int MaxPostedPhrases = LinkGate::MaxWaitingPhrases;
    void Handled(const std::string &line, uint16_t *level) { gate_.Handled(line, level); }

    HubLink(HWND window, std::string pipeName, std::string hubProgram);
    ~HubLink();
    // Tries to connect when not connected; call from a timer. Returns true
    // while connected.
    bool Poll();
    void Send(const std::string &line);
    void OnOpened(int id);
    void OnClosed(int id);
    bool Connected() const { return connection_ != 0; }
    // Why the name's server was refused last time; empty when it was not.
    const std::string &Refusal() const { return refusal_; }

  private:
    void Line(int id, std::string line) override;

    std::string pipeName_;
    std::string hubProgram_;
    PipeEngine engine_;
    LinkGate gate_;
    int connection_ = 0; // the window's thread only
    int pending_ = 0;    // adopted, not yet reported open
    DWORD lastStart_ = 0;
    bool started_ = false;
    std::string refusal_;
    DWORD refused_ = 0; // when
};
