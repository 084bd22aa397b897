// The hub inside the feedback program: the channel's listening end and the
// HubCore it feeds, run on the window's thread. The ear follows the phrases
// listened for and takes the files to listen to through Hooks; what it heard
// comes back through SayHeard, and a file's answer through AnswerFile.
#pragma once
#include "voiced/core/trace.h"
#include "voiced/core/hubcore.h"
#include "voiced/hub/messages.h"
#include "voiced/pipe/bridge.h"
#include "voiced/pipe/engine.h"
#include <windows.h>
#include <functional>

class FeedbackHub : public HubCore::Link {
  public:
    // Called on the window's thread.
    struct Hooks {
        // LISTEN from the channel: takes the file to listen to (true; its
        // answer comes through AnswerFile) or says why not. Unset, every
        // file is refused.
        std::function<bool(int client, const std::string &path, std::string *why)> fileToListenTo;
        // The phrases listened for changed.
        std::function<void(const std::vector<std::string> &)> phrases;
    };

    FeedbackHub(HWND window, Hooks hooks)
        : window_(window), hooks_(std::move(hooks)), core_(this), events_(window), engine_(&events_)
    {
        events_.Attach(&engine_);
    }
    ~FeedbackHub() override { engine_.Stop(); }
    // Opens the pipe: Taken when another program holds its name, Failed
    // when it cannot (the window says so).
    PipeEngine::Listening Start(const std::string &pipeName);
    void Stop() { engine_.Stop(); }

    // The window's thread.
    uint32_t Say(const std::string &phrase) { return core_.Say(phrase); }
    // What the ear took, with its score (0 to 100).
    uint32_t SayHeard(const std::string &phrase, int score)
    {
        return core_.Say(phrase, nullptr, score);
    }
    void Level(uint16_t level) { core_.Level(level); }
    const HubCore &Core() const { return core_; }
    std::vector<std::string> ActivePhrases() const { return core_.ActivePhrases(); }
    // Handles the channel's messages, RefreshMessage (which the window
    // handles too: false) and FileAnswerMessage; returns false for any other.
    // Call it with every message of the window: it also takes closings whose
    // post failed.
    bool Handle(UINT message, WPARAM wParam, LPARAM lParam);
    // Any thread: the answer to a file to listen to that the hook took.
    void AnswerFile(int client, bool taken, uint32_t millis, const std::string &why);

  private:
    // HubCore::Link
    void Send(int client, const std::string &line) override
    {
        TraceLine("hub", "sent", client, line);
        engine_.Send(client, line);
    }
    void Drop(int client) override { engine_.Close(client); }
    void Changed() override;
    void ShowWindow() override;
    uint32_t OwnPid() const override { return GetCurrentProcessId(); }
    bool Listen(int client, const std::string &path, std::string *why) override;

    struct FileAnswer {
        bool taken;
        uint32_t millis;
        std::string why;
    };
    void OnRefresh();

    HWND window_;
    Hooks hooks_;
    HubCore core_;
    WindowEvents events_;
    PipeEngine engine_;
    bool refreshPosted_ = false;
    std::vector<std::string> phrases_;
};
