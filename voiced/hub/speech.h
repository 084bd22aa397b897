// The hub's speech: the ear (the recogniser's thread) fed by the microphone
// and by the files to listen to that come with LISTEN. What the ear takes is
// said to the hub; its input level goes to the window's meter and to the
// services; the sensitivity slider sets its threshold, and the Listen
// controls when it takes a command (listening.h): always, while a key is
// held (seen wherever the focus is, through a low-level keyboard hook), or
// after a name. The settings are the user's (settings.h).
//
// Every call is made on the window's thread. The ear's and the microphone's
// threads report through the hub's mailbox (FeedbackHub::Post), whose work
// the window's thread does.
#pragma once
#include "voiced/hub/hub.h"
#include "voiced/hub/listener.h"
#include "voiced/hub/microphone.h"
#include "voiced/hub/view.h"
#include <memory>

class Speech {
  public:
    struct Hooks {
        std::function<void()> changed; // the state the window shows changed
    };

    Speech(HWND window, FeedbackHub &hub, TextTable text, Hooks hooks);
    Speech(const Speech &) = delete;
    Speech &operator=(const Speech &) = delete;

    // Loads the ear's model (on its thread), opens the microphone and starts
    // the level meter.
    void Start();
    void Stop();

    const SpeechState &State() const { return state_; }
    // Files to listen to being read, waiting or being decoded.
    size_t FilesPending() const { return ear_.FilesPending(); }

    // For the hub's hooks.
    bool ListenToFile(int client, const std::string &path, std::string *why);
    void SetPhrases(const std::vector<std::string> &phrases) { ear_.SetPhrases(phrases); }

    // The window's messages.
    void OnMeterTick();
    void OnSensitivity(); // the slider moved
    void OnPauseTimer();  // Hold mode: the key has been up a while
    // A Listen control (the mode, the key, the name) told of a change.
    void OnListenControl(WORD id, WORD code);
    // A key went down (true) or up anywhere, from the keyboard hook.
    void OnKey(unsigned vk, bool down);

  private:
    bool HasInput() const; // the microphone or a file
    void Report(std::function<void()> change);
    void OnUtterance(const Listener::Heard &heard);
    void ShowSensitivity();
    void FillListen();  // the choices of mode and key
    void ShowListen();  // the controls for the mode chosen
    void ApplyListen(); // the settings to the ear, the hook and the registry
    void PauseLater();  // the microphone, unless the key goes down first
    void Resume();      // the microphone, paused or about to be
    void StartMeter();  // its timer, as often as the window's being shown needs

    HWND window_;
    FeedbackHub &hub_;
    TextTable text_;
    Hooks hooks_;
    SpeechState state_;
    uint16_t levelSent_ = 0; // the last level the services were given
    int meterTicks_ = 0;
    UINT meterMs_ = 0;        // the meter's timer's interval
    HHOOK keyHook_ = nullptr; // in Hold mode
    bool paused_ = false;     // the microphone, in Hold mode with the key up
    Listener ear_;
    Microphone microphone_; // feeds ear_, so it stops first
};
