// The ear and the microphone, wired to the hub and the window.
#include "voiced/hub/speech.h"
#include "common/win32.h"
#include "voiced/hub/ids.h"
#include "voiced/hub/messages.h"
#include "voiced/hub/soundfile.h"
#include <commctrl.h>

namespace {

// What the ear reads, beside the program (nelko_recogniser_files).
const char ModelFolder[] = "model\\en-us";
const char Dictionary[] = "cmudict-en-us.dict";
const char OwnDictionary[] = "nelko.dict";

constexpr UINT MeterMs = 100;
constexpr int LevelEveryTicks = 3; // the level goes to the services this often

} // namespace

Speech::Speech(HWND window, FeedbackHub &hub, TextTable text, Hooks hooks)
    : window_(window), hub_(hub), text_(std::move(text)), hooks_(std::move(hooks)),
      ear_({
          [this](Listener::State state) { Report([this, state] { state_.ear = state; }); },
          [this](const Listener::Heard &heard) {
              hub_.Post([this, heard] { OnUtterance(heard); });
          },
          [this](bool decoding) { Report([this, decoding] { state_.decodingFile = decoding; }); },
      }),
      microphone_({
          [this](const int16_t *samples, size_t count) { ear_.Hear(samples, count); },
          [this](bool open) {
              if (!open)
                  ear_.MicrophoneStopped();
              Report([this, open] { state_.microphoneOpen = open; });
          },
      })
{
}

// Started after the window, so that whoever waits for the window is not kept
// waiting by the model's loading.
void Speech::Start()
{
    SendDlgItemMessageA(window_, IDC_SENSITIVITY, TBM_SETPOS, TRUE, Percent(ear_.Threshold()));
    ShowSensitivity();
    const std::string folder = ProgramFolder();
    ear_.Start({folder + ModelFolder, folder + Dictionary, folder + OwnDictionary});
    microphone_.Start();
    SetTimer(window_, MeterTimer, MeterMs, nullptr);
}

void Speech::Stop()
{
    microphone_.Stop();
    ear_.Stop();
}

// A plain file on a local drive (the hub has checked the path's form, this
// what it opens). It is read and decoded off this thread; its answer goes to
// the hub from there.
bool Speech::ListenToFile(int client, const std::string &path, std::string *why)
{
    if (const char *refused = NotAPlainLocalFile(path)) {
        *why = refused;
        return false;
    }
    FeedbackHub *hub = &hub_;
    return ear_.ListenFile(
        path,
        [hub, client](bool taken, uint32_t millis, const std::string &refused) {
            hub->AnswerFile(client, taken, millis, refused);
        },
        why);
}

// From the ear's or the microphone's thread: a change of the state shown,
// made on the window's thread.
void Speech::Report(std::function<void()> change)
{
    hub_.Post([this, change] {
        change();
        hooks_.changed();
    });
}

// An utterance the ear finished: shown, and when it was taken as a phrase
// listened for, said as a typed phrase is.
void Speech::OnUtterance(const Listener::Heard &heard)
{
    state_.utterance = heard;
    state_.recognised = true;
    if (!heard.phrase.empty())
        hub_.SayHeard(heard.phrase, Percent(heard.score));
    hooks_.changed();
}

bool Speech::HasInput() const
{
    return state_.ear == Listener::State::Ready && (state_.microphoneOpen || state_.decodingFile);
}

// The level meter, and the level the services pass on to their clients.
void Speech::OnMeterTick()
{
    const unsigned level = HasInput() ? ear_.Level() : 0;
    SendDlgItemMessageA(window_, IDC_LEVEL, PBM_SETPOS, level, 0);
    if (++meterTicks_ % LevelEveryTicks)
        return;
    const uint16_t scaled = static_cast<uint16_t>(level * HubCore::MaxLevel / 100);
    if (scaled != levelSent_) {
        levelSent_ = scaled;
        hub_.Level(scaled);
    }
}

void Speech::OnSensitivity()
{
    const LRESULT position = SendDlgItemMessageA(window_, IDC_SENSITIVITY, TBM_GETPOS, 0, 0);
    ear_.SetThreshold(position / 100.0);
    ShowSensitivity();
}

void Speech::ShowSensitivity()
{
    SetDlgItemTextA(window_, IDC_SENSITIVITY_VALUE,
                    SensitivityText(text_, ear_.Threshold()).c_str());
}
