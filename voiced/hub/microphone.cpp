// waveIn with an event: the driver sets it whenever a buffer is done, and the
// capture thread hands the samples on and gives the buffer back.
#include "voiced/hub/microphone.h"
#include <mmsystem.h>
#include <vector>

bool Microphone::Start()
{
    if (thread_.joinable())
        return true;
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!stop_)
        return false;
    thread_ = std::thread(&Microphone::Run, this);
    return true;
}

void Microphone::Stop()
{
    if (!thread_.joinable())
        return;
    SetEvent(stop_);
    thread_.join();
    CloseHandle(stop_);
    stop_ = nullptr;
}

void Microphone::Report(bool open)
{
    if (reported_ == int(open))
        return;
    reported_ = open;
    if (hooks_.state)
        hooks_.state(open);
}

void Microphone::Run()
{
    for (;;) {
        if (!Capture())
            Report(false);
        if (WaitForSingleObject(stop_, RetryMs) == WAIT_OBJECT_0)
            return;
    }
}

bool Microphone::Capture()
{
    if (waveInGetNumDevs() == 0)
        return false;
    HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!done)
        return false;
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = Rate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = Rate * 2;
    HWAVEIN device = nullptr;
    if (waveInOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(done), 0,
                   CALLBACK_EVENT) != MMSYSERR_NOERROR) {
        CloseHandle(done);
        return false;
    }

    const size_t perBuffer = Rate * BufferMs / 1000;
    std::vector<std::vector<int16_t>> memory(Buffers, std::vector<int16_t>(perBuffer));
    std::vector<WAVEHDR> headers(Buffers);
    bool ok = true;
    for (int i = 0; i < Buffers && ok; ++i) {
        headers[i] = {};
        headers[i].lpData = reinterpret_cast<LPSTR>(memory[i].data());
        headers[i].dwBufferLength = static_cast<DWORD>(perBuffer * sizeof(int16_t));
        ok = waveInPrepareHeader(device, &headers[i], sizeof(WAVEHDR)) == MMSYSERR_NOERROR &&
             waveInAddBuffer(device, &headers[i], sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
    }
    ok = ok && waveInStart(device) == MMSYSERR_NOERROR;
    if (ok)
        Report(true);

    // A buffer that does not come back within a few of its lengths means
    // the device has stopped delivering.
    const DWORD stallMs = BufferMs * Buffers * 3;
    HANDLE waits[2] = {stop_, done};
    while (ok) {
        const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, stallMs);
        if (woke != WAIT_OBJECT_0 + 1) {
            ok = false;
            break;
        }
        for (WAVEHDR &header : headers) {
            if (!(header.dwFlags & WHDR_DONE))
                continue;
            const size_t count = header.dwBytesRecorded / sizeof(int16_t);
            if (count && hooks_.samples)
                hooks_.samples(reinterpret_cast<const int16_t *>(header.lpData), count);
            header.dwFlags &= ~WHDR_DONE;
            header.dwBytesRecorded = 0;
            if (waveInAddBuffer(device, &header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR)
                ok = false;
        }
    }
    const bool opened = reported_ == 1;
    waveInReset(device);
    for (WAVEHDR &header : headers)
        if (header.dwFlags & WHDR_PREPARED)
            waveInUnprepareHeader(device, &header, sizeof(WAVEHDR));
    waveInClose(device);
    CloseHandle(done);
    if (opened)
        Report(false);
    return opened;
}
