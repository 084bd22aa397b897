// waveIn with an event: the driver sets it whenever a buffer is done, and the
// capture thread hands the samples on and gives the buffer back.
#include "voiced/hub/microphone.h"
#include "voiced/core/trace.h"
#include <mmsystem.h>
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
    // A buffer the device filled and its samples; false when it is not done.
    bool Filled(size_t buffer, const int16_t **samples, size_t *count) const;
    // Gives a filled buffer back to be filled again.
    bool Requeue(size_t buffer);
    size_t Buffers() const { return headers_.size(); }

  private:
    HWAVEIN device_ = nullptr;
    std::vector<std::vector<int16_t>> memory_;
    std::vector<WAVEHDR> headers_;
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
    }
    return waveInStart(device_) == MMSYSERR_NOERROR;
}

bool CaptureDevice::Filled(size_t buffer, const int16_t **samples, size_t *count) const
{
    const WAVEHDR &header = headers_[buffer];
    if (!(header.dwFlags & WHDR_DONE))
        return false;
    *samples = reinterpret_cast<const int16_t *>(header.lpData);
    *count = header.dwBytesRecorded / sizeof(int16_t);
    return true;
}

bool CaptureDevice::Requeue(size_t buffer)
{
    WAVEHDR &header = headers_[buffer];
    header.dwFlags &= ~WHDR_DONE;
    header.dwBytesRecorded = 0;
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

bool Microphone::Deliver(CaptureDevice &device, HANDLE done, bool *paused)
{
    // A buffer that does not come back within a few of its lengths means
    // the device has stopped delivering.
    const DWORD stallMs = BufferMs * Buffers * 3;
    HANDLE waits[3] = {stop_.Get(), done, pauseChanged_.Get()};
    const DWORD woken = WaitForMultipleObjects(3, waits, FALSE, stallMs);
    if (woken == WAIT_OBJECT_0 + 2) {
        *paused = paused_;
        return !*paused;
    }
    if (woken != WAIT_OBJECT_0 + 1)
        return false;
    bool delivering = true;
    for (size_t buffer = 0; buffer < device.Buffers(); ++buffer) {
        const int16_t *samples;
        size_t count;
        if (!device.Filled(buffer, &samples, &count))
            continue;
        if (count && hooks_.samples)
            hooks_.samples(samples, count);
        delivering = device.Requeue(buffer) && delivering;
    }
    return delivering;
}
