// The default microphone through waveIn, 16 kHz mono, on a capture thread of
// its own. With no microphone (or when it goes away) it says so and looks for
// one again every few seconds; nothing is ever shown to the user from here.
#pragma once
#include "common/win32.h"
#include <windows.h>
#include <cstdint>
#include <atomic>
#include <functional>
#include <thread>

class CaptureDevice; // an open waveIn device, in microphone.cpp

class Microphone {
  public:
    // Called on the capture thread: samples as each buffer fills, and the
    // device opened (true) or unavailable (false; once per change); before
    // each wait, whether the samples are wanted as each buffer fills (none
    // given: they are), else they are handed on every QuietMs.
    struct Hooks {
        std::function<void(const int16_t *samples, size_t count)> samples;
        std::function<void(bool open)> state;
        std::function<bool()> soon;
    };
    static constexpr unsigned Rate = 16000;
    // Short buffers: the end of a command reaches the ear within 10 ms.
    static constexpr unsigned BufferMs = 10;
    static constexpr int Buffers = 80; // the capture thread may fall this far behind
    static constexpr DWORD RetryMs = 5000;
    static constexpr DWORD QuietMs = 50;

    explicit Microphone(Hooks hooks) : hooks_(std::move(hooks)) {}
    ~Microphone() { Stop(); }
    Microphone(const Microphone &) = delete;
    Microphone &operator=(const Microphone &) = delete;

    bool Start();
    void Stop();
    // Any thread: closes the device until the pause ends (nothing is
    // delivered and nothing is reported), then opens it again.
    void Pause(bool paused);

  private:
    void Run();
    // Captures until stopped, paused or the device fails; true when it was
    // paused (and the device was closed for it).
    bool Capture();
    // Hands on the buffers the device filled; false when stopped, paused
    // (*paused set) or when the device stopped delivering.
    bool Deliver(CaptureDevice &device, HANDLE done, bool *paused);
    // Hands on the filled buffers, oldest first: how many, or -1 when the
    // device failed.
    int HandOn(CaptureDevice &device);
    void Report(bool open);

    Hooks hooks_;
    std::thread thread_;
    ScopedHandle stop_;
    ScopedHandle pauseChanged_;
    std::atomic<bool> paused_{false};
    int reported_ = -1;    // the last state reported: -1 none yet, 0 closed, 1 open
    DWORD lastFilled_ = 0; // when a buffer last came back filled (GetTickCount)
};
