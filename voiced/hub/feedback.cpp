// Feedback.exe: the voice hub and its window, "Voice Commands Feedback".
//
// One runs per desktop session: a second start hands over to the first (it
// asks it to show its window, unless started hidden) and exits. Started
// hidden (SW_HIDE, as the voice service and Nelko start it) it stays out of
// sight until asked; hidden and with no service connected, it ends itself.
#include "voiced/hub/hub.h"
#include "voiced/hub/ids.h"
#include "voiced/hub/listener.h"
#include "voiced/hub/microphone.h"
#include <commctrl.h>
#include <cmath>
#include <cstdio>

namespace {

constexpr UINT_PTR GraceTimer = 1;
constexpr UINT GraceMs = 10000; // hidden with no service: time to end
constexpr UINT_PTR MeterTimer = 2;
constexpr UINT MeterMs = 100;
constexpr int LevelEveryTicks = 3; // the level goes to the services this often
constexpr DWORD HandOverMs = 2000;
constexpr int WindowMargin = 8; // from the work area's edges
constexpr int ChannelTakenExit = 2;

// Posted by the listener's and the microphone's threads.
constexpr UINT ListenerStateMessage = WM_APP + 16; // wParam: Listener::State
constexpr UINT UtteranceMessage = WM_APP + 17;     // lParam: Listener::Heard*
constexpr UINT MicrophoneMessage = WM_APP + 18;    // wParam: 1 open, 0 none
constexpr UINT FileMessage = WM_APP + 19;          // wParam: 1 a file is being decoded

// What the recogniser reads, beside the program (nelko_recogniser_files).
const char ModelFolder[] = "model\\en-us";
const char Dictionary[] = "cmudict-en-us.dict";
const char OwnDictionary[] = "nelko.dict";

struct Row {
    std::string text;
    std::string phrase; // empty for a menu's heading
    bool operator==(const Row &other) const { return text == other.text && phrase == other.phrase; }
};

HINSTANCE Instance;
HWND Window;
FeedbackHub *Hub;
bool ChannelOpen;
std::vector<Row> Rows;

// Speech: the state the threads last reported, on the window's thread.
Listener *Ear;
Listener::State EarState = Listener::State::Starting;
bool MicrophoneOpen;
bool FileDecoding;
bool Recognised;               // an utterance has been heard
Listener::Heard LastUtterance; // the last one
uint16_t LevelSent;            // the last level the services were given
int MeterTicks;

std::string Text(UINT id)
{
    char text[256];
    const int n = LoadStringA(Instance, id, text, sizeof text);
    return std::string(text, n > 0 ? n : 0);
}

// A string-table format with text arguments.
template <class... Args> std::string Format(UINT id, const Args &...args)
{
    char text[512];
    snprintf(text, sizeof text, Text(id).c_str(), args.c_str()...);
    return text;
}

std::string HeardText()
{
    const HubHeard &last = Hub->Core().Last();
    if (last.seq == 0)
        return Text(IDS_NOTHING_HEARD);
    std::string text;
    for (const DoneNotice &result : last.results) {
        std::string line;
        switch (result.outcome) {
        case Outcome::Ran:
            line = Format(IDS_HEARD_RAN, last.phrase, result.command, result.application,
                          result.state);
            break;
        case Outcome::Other: line = Format(IDS_HEARD_OTHER, last.phrase); break;
        case Outcome::Ignored: line = Format(IDS_HEARD_IGNORED, last.phrase); break;
        case Outcome::Failed: line = Format(IDS_HEARD_FAILED, last.phrase); break;
        case Outcome::Nobody: line = Format(IDS_HEARD_NOBODY, last.phrase); break;
        case Outcome::Dropped:
            line = last.dropped == 1 ? Format(IDS_HEARD_DROPPED_ONE, result.application)
                                     : Format(IDS_HEARD_DROPPED, std::to_string(last.dropped),
                                              result.application);
            break;
        }
        // What ran says most; an Other beside it adds nothing.
        if (result.outcome == Outcome::Ran)
            return line;
        if (text.empty())
            text = line;
    }
    return text.empty() ? Format(IDS_HEARD_WAITING, last.phrase) : text;
}

// Scores show as whole percents, rounded down, so that a score shown
// below the threshold was below it.
int Percent(double value)
{
    return static_cast<int>(std::floor(value * 100 + 1e-9));
}

std::string SpeechText()
{
    switch (EarState) {
    case Listener::State::Starting: return Text(IDS_SPEECH_STARTING);
    case Listener::State::Unavailable: return Text(IDS_SPEECH_UNAVAILABLE);
    case Listener::State::Ready: break;
    }
    if (FileDecoding)
        return Text(IDS_SPEECH_FILE);
    return Text(MicrophoneOpen ? IDS_SPEECH_MICROPHONE : IDS_SPEECH_NO_MICROPHONE);
}

// Whether the recogniser heard the words of a phrase listened for (its
// score then decided).
bool HeardAPhrase(const std::string &heard)
{
    for (const std::string &phrase : Hub->ActivePhrases()) {
        std::string words;
        for (const std::string &word : PhraseWords(phrase))
            words += (words.empty() ? "" : " ") + word;
        if (words == heard)
            return true;
    }
    return false;
}

std::string RecognisedText()
{
    if (!Recognised)
        return Text(IDS_RECOGNISED_NONE);
    const Listener::Heard &u = LastUtterance;
    char text[512];
    if (u.heard.empty())
        return Text(IDS_RECOGNISED_NO_WORDS);
    if (!u.phrase.empty())
        snprintf(text, sizeof text, Text(IDS_RECOGNISED_TAKEN).c_str(), u.heard.c_str(),
                 Percent(u.score));
    else if (HeardAPhrase(u.heard))
        snprintf(text, sizeof text, Text(IDS_RECOGNISED_LOW).c_str(), u.heard.c_str(),
                 Percent(u.score), Percent(u.threshold));
    else
        snprintf(text, sizeof text, Text(IDS_RECOGNISED_OTHER).c_str(), u.heard.c_str(),
                 Percent(u.score));
    return text;
}

std::string StatusText()
{
    if (!ChannelOpen)
        return Text(IDS_NO_CHANNEL);
    if (Hub->Core().Listening())
        return Text(IDS_LISTENING);
    for (const HubService &service : Hub->Core().Services())
        for (const MenuNotice &menu : service.menus)
            if (menu.active)
                return Text(IDS_NOT_LISTENING);
    return Text(IDS_NO_MENUS);
}

std::vector<Row> CommandRows()
{
    std::vector<Row> rows;
    for (const HubService &service : Hub->Core().Services())
        for (const MenuNotice &menu : service.menus) {
            if (!menu.active)
                continue;
            rows.push_back(
                {Format(menu.listening ? IDS_MENU : IDS_MENU_QUIET, menu.application, menu.state),
                 ""});
            for (const std::string &phrase : menu.phrases)
                rows.push_back({"    " + phrase, phrase});
        }
    return rows;
}

bool Hidden()
{
    return !IsWindowVisible(Window);
}

// Hidden and serving no one: end after a grace period, so that a service
// on its way (or a new Nelko) still finds the hub.
void CheckIdle()
{
    if (Hidden() && Hub->Core().Services().empty())
        SetTimer(Window, GraceTimer, GraceMs, nullptr);
    else
        KillTimer(Window, GraceTimer);
}

void OnRefresh()
{
    SetDlgItemTextA(Window, IDC_STATUS, StatusText().c_str());
    SetDlgItemTextA(Window, IDC_SPEECH, SpeechText().c_str());
    SetDlgItemTextA(Window, IDC_RECOGNISED, RecognisedText().c_str());
    SetDlgItemTextA(Window, IDC_HEARD, HeardText().c_str());
    std::vector<Row> rows = CommandRows();
    if (!(rows == Rows)) {
        HWND list = GetDlgItem(Window, IDC_COMMANDS);
        SendMessageA(list, WM_SETREDRAW, FALSE, 0);
        SendMessageA(list, LB_RESETCONTENT, 0, 0);
        for (const Row &row : rows)
            SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.text.c_str()));
        SendMessageA(list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list, nullptr, TRUE);
        Rows = std::move(rows);
    }
    CheckIdle();
}

void OnSayTyped()
{
    char phrase[MaxPhraseLength * 2];
    GetDlgItemTextA(Window, IDC_PHRASE, phrase, sizeof phrase);
    if (Hub->Say(phrase))
        SetDlgItemTextA(Window, IDC_PHRASE, "");
    SetFocus(GetDlgItem(Window, IDC_PHRASE));
}

void OnCommandClicked()
{
    HWND list = GetDlgItem(Window, IDC_COMMANDS);
    const LRESULT index = SendMessageA(list, LB_GETCURSEL, 0, 0);
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    if (index >= 0 && static_cast<size_t>(index) < Rows.size() && !Rows[index].phrase.empty())
        Hub->Say(Rows[index].phrase);
}

// An utterance the recogniser finished: shown, and when it was taken as a
// phrase listened for, said as a typed phrase is.
void OnUtterance(Listener::Heard *posted)
{
    std::unique_ptr<Listener::Heard> heard(posted);
    LastUtterance = *heard;
    Recognised = true;
    if (!heard->phrase.empty())
        Hub->SayHeard(heard->phrase, Percent(heard->score));
    OnRefresh();
}

// What the listener's and the microphone's threads report.
void OnSpeechState(UINT message, WPARAM wParam)
{
    if (message == ListenerStateMessage)
        EarState = static_cast<Listener::State>(wParam);
    else if (message == MicrophoneMessage)
        MicrophoneOpen = wParam != 0;
    else
        FileDecoding = wParam != 0;
    OnRefresh();
}

bool Listening()
{
    return EarState == Listener::State::Ready && (MicrophoneOpen || FileDecoding);
}

// The level meter, and the level the services pass on to their clients.
void OnMeterTick()
{
    const unsigned level = Listening() ? Ear->Level() : 0;
    SendDlgItemMessageA(Window, IDC_LEVEL, PBM_SETPOS, level, 0);
    if (++MeterTicks % LevelEveryTicks)
        return;
    const uint16_t scaled = static_cast<uint16_t>(level * HubCore::MaxLevel / 100);
    if (scaled != LevelSent) {
        LevelSent = scaled;
        Hub->Level(scaled);
    }
}

void ShowSensitivity()
{
    const int percent = Percent(Ear->Threshold());
    char text[32];
    snprintf(text, sizeof text, Text(IDS_SENSITIVITY_VALUE).c_str(), percent);
    SetDlgItemTextA(Window, IDC_SENSITIVITY_VALUE, text);
}

void OnSensitivity()
{
    const LRESULT position = SendDlgItemMessageA(Window, IDC_SENSITIVITY, TBM_GETPOS, 0, 0);
    Ear->SetThreshold(position / 100.0);
    ShowSensitivity();
}

// LISTEN: a file on a local drive (the hub has checked the path's form). It
// is read and decoded off this thread; its answer comes back as a message.
bool OnListen(int client, const std::string &path, std::string *why)
{
    const std::string root = path.substr(0, 3);
    switch (GetDriveTypeA(root.c_str())) {
    case DRIVE_REMOTE: *why = "the file is on a network drive"; return false;
    case DRIVE_UNKNOWN:
    case DRIVE_NO_ROOT_DIR: *why = "no such drive"; return false;
    }
    return Ear->ListenFile(
        path,
        [client](bool taken, uint32_t millis, const std::string &refused) {
            Hub->Listened(client, taken, millis, refused);
        },
        why);
}

// Closing hides the window while services depend on the hub.
void OnClose()
{
    if (Hub->Core().Services().empty()) {
        DestroyWindow(Window);
    } else {
        ShowWindow(Window, SW_HIDE);
        CheckIdle();
    }
}

void OnCommand(WORD id, WORD code)
{
    switch (id) {
    case IDOK: OnSayTyped(); break;
    case IDCANCEL: OnClose(); break;
    case IDC_COMMANDS:
        if (code == LBN_SELCHANGE)
            OnCommandClicked();
        break;
    }
}

// In the work area's bottom right corner, out of the way of a character that
// starts in the middle of the screen; typing comes first (a key in the list
// would say what it selects).
INT_PTR OnInitDialog(HWND window)
{
    RECT area, box;
    if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0) && GetWindowRect(window, &box))
        SetWindowPos(window, nullptr, area.right - (box.right - box.left) - WindowMargin,
                     area.bottom - (box.bottom - box.top) - WindowMargin, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendDlgItemMessageA(window, IDC_LEVEL, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendDlgItemMessageA(window, IDC_SENSITIVITY, TBM_SETRANGE, FALSE, MAKELPARAM(0, 100));
    SendDlgItemMessageA(window, IDC_SENSITIVITY, TBM_SETPAGESIZE, 0, 5);
    SetFocus(GetDlgItem(window, IDC_PHRASE));
    return FALSE;
}

std::string ProgramFolder()
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, n < sizeof path ? n : 0);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

// Hands a heap copy to the window; dropped when the window is gone.
template <class T> void PostCopy(UINT message, const T &value)
{
    T *posted = new T(value);
    if (!PostMessageA(Window, message, 0, reinterpret_cast<LPARAM>(posted)))
        delete posted;
}

// The ear and the microphone: started after the window, so that whoever
// waits for the window is not kept waiting by the model's loading.
void StartSpeech(Listener &ear, Microphone &mic)
{
    Ear = &ear;
    SendDlgItemMessageA(Window, IDC_SENSITIVITY, TBM_SETPOS, TRUE, Percent(ear.Threshold()));
    ShowSensitivity();
    Hub->OnPhrasesChanged = [](const std::vector<std::string> &phrases) {
        Ear->SetPhrases(phrases);
    };
    Hub->OnListen = OnListen;
    const std::string folder = ProgramFolder();
    ear.Start({folder + ModelFolder, folder + Dictionary, folder + OwnDictionary});
    mic.Start();
    SetTimer(Window, MeterTimer, MeterMs, nullptr);
}

INT_PTR CALLBACK FeedbackProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (Hub && Hub->Handle(message, wParam, lParam))
        return TRUE;
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog(window);
    case FeedbackHub::RefreshMessage: OnRefresh(); return TRUE;
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_CLOSE: OnClose(); return TRUE;
    case WM_TIMER:
        if (wParam == MeterTimer)
            OnMeterTick();
        else if (wParam == GraceTimer && Hidden() && Hub->Core().Services().empty() &&
                 Ear->FilesPending() == 0)
            DestroyWindow(window);
        return TRUE;
    case WM_HSCROLL: OnSensitivity(); return TRUE;
    case ListenerStateMessage:
    case MicrophoneMessage:
    case FileMessage: OnSpeechState(message, wParam); return TRUE;
    case UtteranceMessage: OnUtterance(reinterpret_cast<Listener::Heard *>(lParam)); return TRUE;
    case WM_DESTROY: PostQuitMessage(0); return TRUE;
    }
    return FALSE;
}

// A hub already runs: ask it to show itself (unless this start was hidden).
int HandOver(int show)
{
    if (show == SW_HIDE)
        return 0;
    PipeClient hub;
    if (hub.Connect(HubPipeName(), HubProgramPath(), HandOverMs) &&
        hub.Send(FormatEmptyNotice(Verb::Show)))
        return 0;
    if (HWND first = FindWindowA(nullptr, "Voice Commands Feedback")) {
        ShowWindow(first, SW_SHOWNORMAL);
        SetForegroundWindow(first);
    }
    return 0;
}

void RunMessages()
{
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(Window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Another program serves the channel's name: services would find no hub
// there, so this one serves nothing, says so (even when started hidden) and
// ends when its window is closed.
int ChannelTaken(HANDLE mutex)
{
    SetDlgItemTextA(Window, IDC_STATUS, Text(IDS_CHANNEL_TAKEN).c_str());
    ShowWindow(Window, SW_SHOWNORMAL);
    SetForegroundWindow(Window);
    RunMessages();
    if (mutex)
        CloseHandle(mutex);
    return ChannelTakenExit;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    Instance = instance;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, HubMutexName().c_str());
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS)
        return HandOver(show);

    // The window first: Nelko waits for it by its title.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    Window = CreateDialogA(instance, MAKEINTRESOURCEA(IDD_FEEDBACK), nullptr, FeedbackProc);
    if (!Window)
        return 1;
    static FeedbackHub hub(Window);
    Hub = &hub;
    const PipeEngine::Listening channel = hub.Start(HubPipeName());
    if (channel == PipeEngine::Listening::Taken)
        return ChannelTaken(mutex);
    ChannelOpen = channel == PipeEngine::Listening::Yes;

    Listener ear({
        [](Listener::State state) { PostMessageA(Window, ListenerStateMessage, WPARAM(state), 0); },
        [](const Listener::Heard &heard) { PostCopy(UtteranceMessage, heard); },
        [](bool decoding) { PostMessageA(Window, FileMessage, decoding, 0); },
    });
    Microphone mic({
        [](const int16_t *samples, size_t count) { Ear->Hear(samples, count); },
        [](bool open) {
            if (!open)
                Ear->MicrophoneStopped();
            PostMessageA(Window, MicrophoneMessage, open, 0);
        },
    });
    StartSpeech(ear, mic);
    OnRefresh();
    if (show != SW_HIDE)
        ShowWindow(Window, show);
    CheckIdle();
    RunMessages();
    mic.Stop();
    ear.Stop();
    hub.Stop();
    if (mutex)
        CloseHandle(mutex);
    return 0;
}
