// waveIn with an event: the driver sets it whenever a buffer is done, and the
// capture thread hands the samples on and gives the buffer back.
#include "voiced/hub/microphone.h"
#include "voiced/core/trace.h"
#include <mmsystem.h>
#include <deque>
#include <vector>

// An open capture device and its buffers, given back and closed on every
// path out.
class CaptureDevice {
  public:
    CaptureDevice(const CaptureDevice &) = delete;
    CaptureDevice &operator=(const CaptureDevice &) = delete;
    // The default device, 16 kHz mono, setting done whenever a buffer is.
    explicit CaptureDevice(HANDLE done);
    ~CaptureDevice();
    bool Open() const { return device_ != nullptr; }
    // Hands every buffer to the device and starts it.
    bool Start();
    // The samples of the buffer given to the device first, once it is
    // filled (the device fills them in the order they were given).
    bool Next(const int16_t **samples, size_t *count) const;
    // Gives that buffer back to be filled again, after the others.
    bool Requeue();

  private:
    HWAVEIN device_ = nullptr;
    std::vector<std::vector<int16_t>> memory_;
    std::vector<WAVEHDR> headers_;
    std::deque<size_t> given_; // the buffers with the device, in the order given
};

CaptureDevice::CaptureDevice(HANDLE done)
    : memory_(Microphone::Buffers,
              std::vector<int16_t>(Microphone::Rate * Microphone::BufferMs / 1000)),
      headers_(Microphone::Buffers)
{
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = Microphone::Rate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = Microphone::Rate * 2;
    if (waveInOpen(&device_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(done), 0,
                   CALLBACK_EVENT) != MMSYSERR_NOERROR)
        device_ = nullptr;
}

CaptureDevice::~CaptureDevice()
{
    if (!device_)
        return;
    waveInReset(device_);
    for (WAVEHDR &header : headers_)
        if (header.dwFlags & WHDR_PREPARED)
            waveInUnprepareHeader(device_, &header, sizeof(WAVEHDR));
    waveInClose(device_);
}

bool CaptureDevice::Start()
{
    for (size_t i = 0; i < headers_.size(); ++i) {
        WAVEHDR &header = headers_[i];
        header = {};
        header.lpData = reinterpret_cast<LPSTR>(memory_[i].data());
        header.dwBufferLength = static_cast<DWORD>(memory_[i].size() * sizeof(int16_t));
        if (waveInPrepareHeader(device_, &header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR ||
            waveInAddBuffer(device_, &header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR)
            return false;
        given_.push_back(i);
    }
    return waveInStart(device_) == MMSYSERR_NOERROR;
}

bool CaptureDevice::Next(const int16_t **samples, size_t *count) const
{
    if (given_.empty() || !(headers_[given_.front()].dwFlags & WHDR_DONE))
        return false;
    const WAVEHDR &header = headers_[given_.front()];
    *samples = reinterpret_cast<const int16_t *>(header.lpData);
    *count = header.dwBytesRecorded / sizeof(int16_t);
    return true;
}

bool CaptureDevice::Requeue()
{
    const size_t buffer = given_.front();
    WAVEHDR &header = headers_[buffer];
    header.dwFlags &= ~WHDR_DONE;
    header.dwBytesRecorded = 0;
    given_.pop_front();
    given_.push_back(buffer);
    return waveInAddBuffer(device_, &header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
}

bool Microphone::Start()
{
    if (thread_.joinable())
        return true;
    stop_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    pauseChanged_.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!stop_ || !pauseChanged_)
        return false;
    thread_ = std::thread(&Microphone::Run, this);
    return true;
}

void Microphone::Stop()
{
    if (!thread_.joinable())
        return;
    SetEvent(stop_.Get());
    thread_.join();
    stop_.Reset();
    pauseChanged_.Reset();
}

void Microphone::Pause(bool paused)
{
    if (paused_.exchange(paused) != paused && pauseChanged_)
        SetEvent(pauseChanged_.Get());
}

void Microphone::Report(bool open)
{
    if (reported_ == int(open))
        return;
    reported_ = open;
    if (hooks_.state)
        hooks_.state(open);
}

// Paused, the device is closed: a stopped one keeps Wine's sound stack as
// busy as capturing (its threads took 3.7% of a core either way).
void Microphone::Run()
{
    HANDLE waits[2] = {stop_.Get(), pauseChanged_.Get()};
    for (;;) {
        if (paused_) {
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0)
                return;
            continue;
        }
        // After a pause the device opens again at once (the pause may have
        // ended already); after a failure, in a while.
        if (!Capture() && WaitForSingleObject(stop_.Get(), RetryMs) == WAIT_OBJECT_0)
            return;
    }
}

bool Microphone::Capture()
{
    const ScopedHandle done(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    bool opened = false, paused = false;
    if (done && waveInGetNumDevs() > 0) {
        CaptureDevice device(done.Get());
        if (device.Open() && device.Start()) {
            Report(true);
            Trace("hub", "microphone capturing");
            lastFilled_ = GetTickCount();
            opened = true;
            while (Deliver(device, done.Get(), &paused)) {
            }
        }
    } // the device is closed before it is reported closed
    if (opened)
        Trace("hub", "microphone %s", paused ? "paused" : "closed");
    if (!paused)
        Report(false);
    return paused;
}

int Microphone::HandOn(CaptureDevice &device)
{
    int handed = 0;
    const int16_t *samples;
    size_t count;
    for (; device.Next(&samples, &count); ++handed) {
        if (count && hooks_.samples)
            hooks_.samples(samples, count);
        if (!device.Requeue())
            return -1;
    }
    return handed;
}

// Waits for a buffer to fill when the samples are wanted soon, else for
// QuietMs (the device's event stays set meanwhile), and hands on what came.
bool Microphone::Deliver(CaptureDevice &device, HANDLE done, bool *paused)
{
    // Buffers that do not come back within a few of their lengths mean
    // the device has stopped delivering.
    const DWORD stallMs = BufferMs * Buffers * 3;
    const bool soon = !hooks_.soon || hooks_.soon();
    HANDLE waits[3] = {stop_.Get(), pauseChanged_.Get(), done};
    const DWORD woken =
        WaitForMultipleObjects(soon ? 3 : 2, waits, FALSE, soon ? stallMs : QuietMs);
    if (woken == WAIT_OBJECT_0 + 1) {
        *paused = paused_;
        return !*paused;
    }
    if (woken != WAIT_OBJECT_0 + 2 && woken != WAIT_TIMEOUT)
        return false;
    const int handed = HandOn(device);
    if (handed > 0)
        lastFilled_ = GetTickCount();
    return handed >= 0 && GetTickCount() - lastFilled_ < stallMs;
}
