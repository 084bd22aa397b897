// Feedback.exe: the voice hub and its window, "Voice Commands Feedback".
//
// One runs per desktop session: a second start hands over to the first (it
// asks it to show its window, unless started hidden) and exits. Started
// hidden (SW_HIDE, as the voice service and Nelko start it) it stays out of
// sight until asked; hidden and with no service connected, it ends itself.
#include "voiced/feedback/hub.h"
#include "voiced/feedback/ids.h"
#include <cstdio>

namespace {

constexpr UINT_PTR GraceTimer = 1;
constexpr UINT GraceMs = 10000; // hidden with no service: time to end
constexpr DWORD HandOverMs = 2000;
constexpr int WindowMargin = 8; // from the work area's edges

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
        }
        // What ran says most; an Other beside it adds nothing.
        if (result.outcome == Outcome::Ran)
            return line;
        if (text.empty())
            text = line;
    }
    return text.empty() ? Format(IDS_HEARD_WAITING, last.phrase) : text;
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
    SetFocus(GetDlgItem(window, IDC_PHRASE));
    return FALSE;
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
        if (wParam == GraceTimer && Hidden() && Hub->Core().Services().empty())
            DestroyWindow(window);
        return TRUE;
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
    if (hub.Connect(HubPipeName(), HandOverMs) && hub.Send(FormatChannelLine("SHOW", {})))
        return 0;
    if (HWND first = FindWindowA(nullptr, "Voice Commands Feedback")) {
        ShowWindow(first, SW_SHOWNORMAL);
        SetForegroundWindow(first);
    }
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    Instance = instance;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, HubMutexName().c_str());
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS)
        return HandOver(show);

    // The window first: Nelko waits for it by its title.
    Window = CreateDialogA(instance, MAKEINTRESOURCEA(IDD_FEEDBACK), nullptr, FeedbackProc);
    if (!Window)
        return 1;
    static FeedbackHub hub(Window);
    Hub = &hub;
    ChannelOpen = hub.Start(HubPipeName());
    OnRefresh();
    if (show != SW_HIDE)
        ShowWindow(Window, show);
    CheckIdle();

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(Window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    hub.Stop();
    if (mutex)
        CloseHandle(mutex);
    return 0;
}
