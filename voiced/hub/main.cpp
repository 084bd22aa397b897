// Feedback.exe: the voice hub and its window, "Voice Commands Feedback".
//
// One runs per desktop session: a second start hands over to the first (it
// asks it to show its window, unless started hidden) and exits. Started
// hidden (SW_HIDE, as the voice service and Nelko start it) it stays out of
// sight until asked; hidden and with no service connected, it ends itself.
//
// The window shows the view (view.h) of the hub (hub.h) and the speech side
// (speech.h); this file owns the window, its procedure and the process's
// lifetime.
#include "common/win32.h"
#include "voiced/hub/hub.h"
#include "voiced/hub/ids.h"
#include "voiced/hub/messages.h"
#include "voiced/hub/speech.h"
#include "voiced/hub/view.h"
#include "voiced/pipe/client.h"
#include <commctrl.h>

namespace {

constexpr UINT GraceMs = 10000; // hidden with no service: time to end
constexpr DWORD HandOverMs = 2000;
constexpr int WindowMargin = 8; // from the work area's edges
constexpr int ChannelTakenExit = 2;

HINSTANCE Instance;
HWND Window;
FeedbackHub *Hub;
Speech *Ears;
bool ChannelOpen;
std::vector<CommandRow> Rows; // what the command list shows

std::string Text(unsigned id)
{
    char text[256];
    const int n = LoadStringA(Instance, id, text, sizeof text);
    return std::string(text, n > 0 ? n : 0);
}

bool Hidden()
{
    return !IsWindowVisible(Window);
}

bool Idle()
{
    return Hidden() && Hub->Core().Services().empty();
}

// Hidden and serving no one: end after a grace period, so that a service
// on its way (or a new Nelko) still finds the hub.
void CheckIdle()
{
    if (Idle())
        SetTimer(Window, GraceTimer, GraceMs, nullptr);
    else
        KillTimer(Window, GraceTimer);
}

void ShowRows(std::vector<CommandRow> rows)
{
    if (rows == Rows)
        return;
    HWND list = GetDlgItem(Window, IDC_COMMANDS);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const CommandRow &row : rows)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.text.c_str()));
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    Rows = std::move(rows);
}

void OnRefresh()
{
    const HubCore &core = Hub->Core();
    const View view = ComputeView(
        {ChannelOpen, core.Services(), core.ActivePhrases(), core.Last(), Ears->State()}, Text);
    SetDlgItemTextA(Window, IDC_STATUS, view.status.c_str());
    SetDlgItemTextA(Window, IDC_SPEECH, view.speech.c_str());
    SetDlgItemTextA(Window, IDC_RECOGNISED, view.recognised.c_str());
    SetDlgItemTextA(Window, IDC_HEARD, view.heard.c_str());
    ShowRows(view.rows);
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
    case IDC_LISTEN:
    case IDC_HOLD_KEY:
    case IDC_NAME: Ears->OnListenControl(id, code); break;
    }
}

// The grace period is over: the hub ends unless it was shown, a service
// came or a file to listen to is still being worked on.
void OnGraceOver()
{
    if (Idle() && Ears->FilesPending() == 0)
        DestroyWindow(Window);
}

void OnTimer(UINT_PTR timer)
{
    if (timer == MeterTimer)
        Ears->OnMeterTick();
    else if (timer == GraceTimer)
        OnGraceOver();
    else if (timer == PauseTimer)
        Ears->OnPauseTimer();
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

INT_PTR CALLBACK FeedbackProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    if (Hub && Hub->Handle(message))
        return TRUE;
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog(window);
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_CLOSE: OnClose(); return TRUE;
    case WM_TIMER: OnTimer(wParam); return TRUE;
    case WM_HSCROLL: Ears->OnSensitivity(); return TRUE;
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
    if (HWND first = FindWindowA(nullptr, FeedbackWindowTitle)) {
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

// Another program holds the channel's name: services would find no hub
// there, so this one takes no services, says so (even when started hidden)
// and ends when its window is closed.
int ChannelTaken()
{
    SetDlgItemTextA(Window, IDC_STATUS, Text(IDS_CHANNEL_TAKEN).c_str());
    ShowWindow(Window, SW_SHOWNORMAL);
    SetForegroundWindow(Window);
    RunMessages();
    return ChannelTakenExit;
}

// The hub and the speech side, while the window runs.
int Run(int show)
{
    FeedbackHub hub(Window,
                    {
                        [](int client, const std::string &path, std::string *why) {
                            return Ears->ListenToFile(client, path, why);
                        },
                        [](const std::vector<std::string> &phrases) { Ears->SetPhrases(phrases); },
                        OnRefresh,
                    });
    Speech speech(Window, hub, Text, {OnRefresh});
    Hub = &hub;
    Ears = &speech;
    const PipeEngine::Listening channel = hub.Start(HubPipeName());
    if (channel == PipeEngine::Listening::Taken)
        return ChannelTaken();
    ChannelOpen = channel == PipeEngine::Listening::Yes;

    speech.Start();
    OnRefresh();
    if (show != SW_HIDE)
        ShowWindow(Window, show);
    CheckIdle();
    RunMessages();
    speech.Stop();
    hub.Stop();
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    Instance = instance;
    LoadDllsFromOwnFolders();
    const ScopedHandle mutex(CreateMutexA(nullptr, FALSE, HubMutexName().c_str()));
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS)
        return HandOver(show);

    // The window first: Nelko waits for it by its title.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    Window = CreateDialogA(instance, MAKEINTRESOURCEA(IDD_FEEDBACK), nullptr, FeedbackProc);
    if (!Window)
        return 1;
    return Run(show);
}
