// The hub inside the feedback program: the channel's listening end and the
// HubCore it feeds, run on the window's thread. A phrase source in the same
// process (a recogniser) says what it heard through Say (on this thread) or
// PostSay (from any thread), and follows the phrases listened for through
// ActivePhrases and OnPhrasesChanged; sound files handed in with LISTEN go to
// OnListen, and their answers come back through Listened.
#pragma once
#include "voiced/pipe/pipe.h"
#include <windows.h>
#include <functional>

class FeedbackHub : public HubCore::Link {
  public:
    // Posted to the window by the engine's thread and by PostSay.
    static constexpr UINT OpenedMessage = WM_APP + 1;   // wParam: connection
    static constexpr UINT LineMessage = WM_APP + 2;     // lParam: WindowEvents::PostedLine*
    static constexpr UINT ClosedMessage = WM_APP + 3;   // wParam: connection
    static constexpr UINT RefreshMessage = WM_APP + 4;  // the window redraws what changed
    static constexpr UINT SayMessage = WM_APP + 5;      // lParam: std::string*
    static constexpr UINT ListenedMessage = WM_APP + 6; // wParam: connection, lParam: Answer*

    explicit FeedbackHub(HWND window)
        : window_(window), core_(this), events_(window, OpenedMessage, LineMessage, ClosedMessage),
          engine_(&events_)
    {
        events_.Attach(&engine_);
    }
    ~FeedbackHub() override { engine_.Stop(); }
    // Listens on the pipe: Taken when another program holds its name, Failed
    // when it cannot (the window says so).
    PipeEngine::Listening Start(const std::string &pipeName);
    void Stop() { engine_.Stop(); }

    // The window's thread.
    uint32_t Say(const std::string &phrase) { return core_.Say(phrase); }
    // What a recogniser accepted, with its score (0 to 100).
    uint32_t SayHeard(const std::string &phrase, int score)
    {
        return core_.Say(phrase, nullptr, score);
    }
    void Level(uint16_t level) { core_.Level(level); }
    // LISTEN from the channel, on the window's thread: takes the file to be
    // read (true; its answer is posted with Listened) or says why not.
    // Unset, every file is refused.
    std::function<bool(int client, const std::string &path, std::string *why)> OnListen;
    const HubCore &Core() const { return core_; }
    std::vector<std::string> ActivePhrases() const { return core_.ActivePhrases(); }
    // Called on the window's thread whenever the phrases listened for change.
    std::function<void(const std::vector<std::string> &)> OnPhrasesChanged;
    // Handles the messages above; returns false for any other. Call it with
    // every message of the window: it also takes closings whose post failed.
    bool Handle(UINT message, WPARAM wParam, LPARAM lParam);
    // Any thread: hands a phrase to the hub of that window.
    static void PostSay(HWND window, const std::string &phrase);
    // Any thread: the answer to a LISTEN that OnListen took.
    void Listened(int client, bool taken, uint32_t millis, const std::string &why);

  private:
    // HubCore::Link
    void Send(int client, const std::string &line) override { engine_.Send(client, line); }
    void Drop(int client) override { engine_.Close(client); }
    void Changed() override;
    void ShowWindow() override;
    uint32_t OwnPid() const override { return GetCurrentProcessId(); }
    bool Listen(int client, const std::string &path, std::string *why) override;

    struct Answer {
        bool taken;
        uint32_t millis;
        std::string why;
    };

    HWND window_;
    HubCore core_;
    WindowEvents events_;
    PipeEngine engine_;
    bool refreshPosted_ = false;
    std::vector<std::string> phrases_;
};
