// The ear and the microphone, wired to the hub and the window.
#include "voiced/hub/speech.h"
#include "common/win32.h"
#include "voiced/hub/ids.h"
#include "voiced/hub/messages.h"
#include "voiced/hub/settings.h"
#include "voiced/core/trace.h"
#include <commctrl.h>

namespace {

// What the ear reads, beside the program (nelko_recogniser_files).
const char ModelFolder[] = "model\\en-us";
const char Dictionary[] = "cmudict-en-us.dict";
const char OwnDictionary[] = "nelko.dict";

// The meter ticks every MeterMs while the window shows it; the level goes
// to the services every LevelEveryTicks ticks. Hidden (as Nelko starts the
// hub), it ticks only that often: under Wine each tick wakes the window's
// thread several times (ten ticks a second cost the hub about 0.6% of a
// core).
constexpr UINT MeterMs = 100;
constexpr int LevelEveryTicks = 3;
// In Hold mode the microphone captures on this long after the key comes up,
// so that a command soon after has its lead, and then pauses (closes) until
// the next press: an open device keeps Wine's sound stack busy (3.7% of a
// core measured, with nothing decoded), a closed one costs nothing. Opening
// it again at a press took 36 ms under Wine, taken from the hold's start.
constexpr UINT PauseAfterMs = 3000;

// The hub's one Speech, whose key the hook watches.
Speech *Hooked;

// Called on the window's thread as each key event comes (Windows waits for
// it, so it only passes the key on).
LRESULT CALLBACK KeyHook(int code, WPARAM message, LPARAM data)
{
    if (code == HC_ACTION && Hooked) {
        const KBDLLHOOKSTRUCT *key = reinterpret_cast<const KBDLLHOOKSTRUCT *>(data);
        Hooked->OnKey(key->vkCode, message == WM_KEYDOWN || message == WM_SYSKEYDOWN);
    }
    return CallNextHookEx(nullptr, code, message, data);
}

} // namespace

Speech::Speech(HWND window, FeedbackHub &hub, TextTable text, Hooks hooks)
    : window_(window), hub_(hub), text_(std::move(text)), hooks_(std::move(hooks)),
      ear_({
          [this](Listener::State state) { Report([this, state] { state_.ear = state; }); },
          [this](const Listener::Heard &heard) {
              hub_.Post([this, heard] { OnUtterance(heard); });
          },
          [this](bool decoding) { Report([this, decoding] { state_.decodingFile = decoding; }); },
          [this](bool unknown) { Report([this, unknown] { state_.nameUnknown = unknown; }); },
      }),
      microphone_({
          [this](const int16_t *samples, size_t count) { ear_.Hear(samples, count); },
          [this](bool open) {
              if (!open)
                  ear_.MicrophoneStopped();
              Report([this, open] { state_.microphoneOpen = open; });
          },
          [this] { return ear_.WantsSamplesSoon(); },
      })
{
}

// Started after the window, so that whoever waits for the window is not kept
// waiting by the model's loading.
void Speech::Start()
{
    state_.listen = ReadListenSettings();
    const std::string folder = ProgramFolder();
    RecogniserOptions options{folder + ModelFolder, folder + Dictionary, folder + OwnDictionary};
    options.threshold = state_.listen.sensitivity;
    options.listen = state_.listen.mode;
    options.name = RecognisedName(state_.listen.name);
    ear_.Start(options);
    SendDlgItemMessageA(window_, IDC_SENSITIVITY, TBM_SETPOS, TRUE, Percent(ear_.Threshold()));
    ShowSensitivity();
    FillListen();
    ApplyListen();
    microphone_.Start();
    StartMeter();
}

void Speech::Stop()
{
    if (keyHook_)
        UnhookWindowsHookEx(keyHook_);
    keyHook_ = nullptr;
    Hooked = nullptr;
    microphone_.Stop();
    ear_.Stop();
}

// A file on a local drive (the hub has checked the path's form). It is read
// and decoded off this thread; its answer goes to the hub from there.
bool Speech::ListenToFile(int client, const std::string &path, std::string *why)
{
    const std::string root = path.substr(0, 3);
    switch (GetDriveTypeA(root.c_str())) {
    case DRIVE_REMOTE: *why = "the file is on a network drive"; return false;
    case DRIVE_UNKNOWN:
    case DRIVE_NO_ROOT_DIR: *why = "no such drive"; return false;
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

void Speech::StartMeter()
{
    meterMs_ = IsWindowVisible(window_) ? MeterMs : MeterMs * LevelEveryTicks;
    SetTimer(window_, MeterTimer, meterMs_, nullptr);
}

// The level meter, and the level the services pass on to their clients.
void Speech::OnMeterTick()
{
    const bool shown = IsWindowVisible(window_) != FALSE;
    if (meterMs_ != (shown ? MeterMs : MeterMs * LevelEveryTicks))
        StartMeter();
    const unsigned level = HasInput() ? ear_.Level() : 0;
    SendDlgItemMessageA(window_, IDC_LEVEL, PBM_SETPOS, level, 0);
    if (shown && ++meterTicks_ % LevelEveryTicks)
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
    state_.listen.sensitivity = ear_.Threshold();
    WriteListenSettings(state_.listen);
    ShowSensitivity();
}

void Speech::FillListen()
{
    const std::string named = ListenNameChoice(text_, state_.listen.name);
    for (const std::string &choice : {text_(IDS_LISTEN_ALWAYS), text_(IDS_LISTEN_HOLD), named})
        SendDlgItemMessageA(window_, IDC_LISTEN, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(choice.c_str()));
    for (size_t i = 0; i < HoldKeyCount; ++i)
        SendDlgItemMessageA(window_, IDC_HOLD_KEY, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(HoldKeys[i].name));
}

void Speech::ShowListen()
{
    const ListenSettings &listen = state_.listen;
    const std::string named = ListenNameChoice(text_, listen.name);
    SendDlgItemMessageA(window_, IDC_LISTEN, CB_DELETESTRING, 2, 0);
    SendDlgItemMessageA(window_, IDC_LISTEN, CB_INSERTSTRING, 2,
                        reinterpret_cast<LPARAM>(named.c_str()));
    SendDlgItemMessageA(window_, IDC_LISTEN, CB_SETCURSEL, WPARAM(listen.mode), 0);
    const HoldKey *key = FindHoldKey(listen.key);
    SendDlgItemMessageA(window_, IDC_HOLD_KEY, CB_SETCURSEL, key ? key - HoldKeys : 0, 0);
    SetDlgItemTextA(window_, IDC_NAME, listen.name.c_str());
    ShowWindow(GetDlgItem(window_, IDC_HOLD_KEY),
               listen.mode == RecogniserListen::Hold ? SW_SHOWNA : SW_HIDE);
    ShowWindow(GetDlgItem(window_, IDC_NAME),
               listen.mode == RecogniserListen::Name ? SW_SHOWNA : SW_HIDE);
}

// The hook runs only in Hold mode: with another mode no key is looked at.
void Speech::ApplyListen()
{
    const ListenSettings &listen = state_.listen;
    ear_.SetListening(listen.mode, RecognisedName(listen.name));
    const bool hold = listen.mode == RecogniserListen::Hold;
    if (hold && !keyHook_) {
        Hooked = this;
        keyHook_ = SetWindowsHookExA(WH_KEYBOARD_LL, KeyHook, GetModuleHandleA(nullptr), 0);
        Trace("hub", "keyboard hook %s", keyHook_ ? "set" : "refused");
    } else if (!hold && keyHook_) {
        UnhookWindowsHookEx(keyHook_);
        keyHook_ = nullptr;
    }
    if (!hold && state_.keyDown)
        OnKey(listen.key, false);
    if (hold) {
        PauseLater();
    } else {
        Resume();
    }
    WriteListenSettings(listen);
    ShowListen();
    hooks_.changed();
}

void Speech::OnListenControl(WORD id, WORD code)
{
    ListenSettings &listen = state_.listen;
    const LRESULT chosen = SendDlgItemMessageA(window_, id, CB_GETCURSEL, 0, 0);
    if (id == IDC_LISTEN && code == CBN_SELCHANGE && chosen >= 0 && chosen < 3) {
        listen.mode = static_cast<RecogniserListen>(chosen);
    } else if (id == IDC_HOLD_KEY && code == CBN_SELCHANGE && chosen >= 0 &&
               size_t(chosen) < HoldKeyCount) {
        if (state_.keyDown)
            OnKey(listen.key, false);
        listen.key = HoldKeys[chosen].vk;
    } else if (id == IDC_NAME && code == EN_KILLFOCUS) {
        char name[MaxListenNameLength + 2];
        GetDlgItemTextA(window_, IDC_NAME, name, sizeof name);
        // A name that cannot be one is put back as it was.
        if (!RecognisedName(name).empty())
            listen.name = name;
    } else {
        return;
    }
    ApplyListen();
}

void Speech::PauseLater()
{
    SetTimer(window_, PauseTimer, PauseAfterMs, nullptr);
}

void Speech::OnPauseTimer()
{
    KillTimer(window_, PauseTimer);
    if (state_.listen.mode != RecogniserListen::Hold || state_.keyDown)
        return;
    microphone_.Pause(true);
    paused_ = true;
    // Nothing to meter until the next press: the meter falls to nothing
    // and its timer stops (ten ticks a second were most of what the hub
    // then cost under Wine).
    KillTimer(window_, MeterTimer);
    SendDlgItemMessageA(window_, IDC_LEVEL, PBM_SETPOS, 0, 0);
    if (levelSent_ != 0) {
        levelSent_ = 0;
        hub_.Level(0);
    }
}

void Speech::Resume()
{
    KillTimer(window_, PauseTimer);
    if (!paused_)
        return;
    ear_.ForgetLead();
    microphone_.Pause(false);
    paused_ = false;
    StartMeter();
}

// Auto-repeat brings more presses of a key held: only changes count.
void Speech::OnKey(unsigned vk, bool down)
{
    if (vk != state_.listen.key || down == state_.keyDown)
        return;
    state_.keyDown = down;
    if (down)
        Resume(); // what the ring holds from before a pause is no lead
    ear_.SetKeyDown(down);
    if (!down)
        PauseLater();
    Trace("hub", "%s held to talk went %s", FindHoldKey(vk) ? FindHoldKey(vk)->name : "key",
          down ? "down" : "up");
    hub_.Post([this] { hooks_.changed(); });
}

void Speech::ShowSensitivity()
{
    SetDlgItemTextA(window_, IDC_SENSITIVITY_VALUE,
                    SensitivityText(text_, ear_.Threshold()).c_str());
}
