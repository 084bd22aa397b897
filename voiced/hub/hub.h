// The hub inside the feedback program: the channel's listening end and the
// HubCore it feeds, run on the window's thread. The ear follows the phrases
// listened for and takes the files to listen to through Hooks; what it heard
// comes back through SayHeard, and a file's answer through AnswerFile.
#pragma once
#include "voiced/core/trace.h"
#include "voiced/core/hubcore.h"
#include "common/win32.h"
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
        // What the window shows changed (once per burst).
        std::function<void()> changed;
    };

    FeedbackHub(HWND window, Hooks hooks)
        : window_(window), hooks_(std::move(hooks)), core_(this),
          work_(window, SessionMessage("NelkoVoiceHubWork")), events_(window), engine_(&events_)
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
    // Takes what the other threads handed over, on its doorbells and on
    // any timer (a doorbell that could not be posted is not waited for);
    // returns true for the doorbells, false for any other message.
    bool Handle(UINT message);
    // Any thread: work for the window's thread, done in order.
    void Post(std::function<void()> work) { work_.Post(std::move(work)); }
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

    void OnRefresh();
    void TakeEvents();
    void TakeWork();

    HWND window_;
    Hooks hooks_;
    HubCore core_;
    Mailbox<std::function<void()>> work_;
    WindowEvents events_;
    PipeEngine engine_;
    bool refreshPosted_ = false;
    std::vector<std::string> phrases_;
};
