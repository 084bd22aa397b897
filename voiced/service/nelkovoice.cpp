// nelkovoice.exe: the voice-command service.
//
//   nelkovoice.exe -Embedding        started by COM for one client (single use)
//   nelkovoice.exe /regserver        installs the class, the proxies, UseSpeech
//                                    for the current user (/machine: for all)
//   nelkovoice.exe /unregserver      removes what /regserver added (/machine)
//   nelkovoice.exe                   asks whether to install for the current user
//   nelkovoice.exe /say PHRASE...    hands a phrase to the hub and exits
//   nelkovoice.exe /listen FILE.wav  hands a recording to the hub's recogniser
//                                    and exits; what it hears is said
//   nelkovoice.exe /list             prints the commands listened for
//
// Exit codes: 0 done; 1 for /say when no listening menu has the phrase (it is
// still heard, as something else) and for /list when nothing is listened
// for; 2 when no hub runs or the hub refused it (for /listen: it cannot read
// the file, or has no recogniser); 3 for an unknown command line; 4 when
// another program holds the hub's pipe (nothing is sent to it); a Win32
// error code for a failed installation.
#include "voiced/service/ids.h"
#include "voiced/service/hublink.h"
#include "voiced/service/install.h"
#include "voiced/service/service.h"
#include "voiced/pipe/client.h"
#include <cstdio>
#include <cstring>

namespace {

constexpr UINT_PTR PingTimer = 1;
constexpr UINT PingMs = 1000; // the sink's liveness, while there is one
constexpr UINT_PTR LinkTimer = 2;
constexpr UINT LinkMs = 250;
constexpr UINT_PTR IdleTimer = 3;
constexpr UINT IdleMs = 60000; // a server no client ever reached
constexpr DWORD HubReplyMs = 3000;
// The hub reads and converts the whole file first, after up to three others
// (ten minutes of 48 kHz sound take about ten seconds under Wine).
constexpr DWORD ListenReplyMs = 60000;

enum ExitCode { Done = 0, NotListened = 1, NoHub = 2, Usage = 3, Impostor = 4 };

HWND Window;
HubLink *Link;
DWORD ClassCookie;
bool Revoked;
bool Served; // an object was made for the one client
bool ClientDied;
LONG ServerLocks;

// Revokes the class object first, so that no client is handed a server on
// its way out, then ends the loop.
void Shutdown()
{
    if (!Revoked && ClassCookie)
        CoRevokeClassObject(ClassCookie);
    Revoked = true;
    PostQuitMessage(0);
}

VoiceService Service({
    [](const std::string &line) {
        if (Link)
            Link->Send(line);
    },
    [] {
        if (ServerLocks == 0)
            Shutdown();
    },
    [] {
        ClientDied = true;
        Shutdown();
    },
});

class ClassFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return E_NOINTERFACE;
        *object = static_cast<IClassFactory *>(this);
        return S_OK;
    }
    // Lives as long as the process.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    // One client per process. Wine hands a single-use class object to later
    // clients as well, so the first object made revokes it; a client that
    // slipped in before that is told to activate again.
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **object) override
    {
        if (object)
            *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (Served)
            return CO_E_SERVER_STOPPING;
        const HRESULT result = Service.NewObject(iid, object);
        if (FAILED(result))
            return result;
        Served = true;
        if (!Revoked)
            CoRevokeClassObject(ClassCookie);
        Revoked = true;
        if (Window)
            KillTimer(Window, IdleTimer);
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        ServerLocks += lock ? 1 : -1;
        if (!lock && ServerLocks == 0 && Service.Objects() == 0)
            Shutdown();
        return S_OK;
    }
};
ClassFactory Factory;

void OnLinkLine(const HubLink::Event &line)
{
    ChannelMessage message;
    PhraseNotice phrase;
    LevelNotice level;
    // The hub sends phrases and levels; anything else (an ERROR) is not
    // acted on.
    if (!ParseChannelLine(line.line, &message))
        return;
    const bool isPhrase = ParsePhraseNotice(message, &phrase);
    const bool isLevel = ParseLevelNotice(message, &level);
    // Not this line's level but the latest: the link posts one LEVEL at a
    // time and keeps the newer ones for it.
    if (Link)
        Link->Handled(line.line, &level.level);
    if (!Link || !Link->Connected())
        return;
    if (isPhrase)
        Service.Phrase(phrase.seq, phrase.phrase, line.arrived);
    else if (isLevel)
        Service.Level(level.level);
}

void OnLinkOpened(int id)
{
    Link->OnOpened(id);
    if (!Link->Connected())
        return;
    Service.PublishAll();
}

// What the link's engine reported, one event at a time: a call into the
// client may handle messages, and with them the next event, in order.
void OnLinkEvents()
{
    for (HubLink::Event event; Link && Link->Next(&event);) {
        switch (event.kind) {
        case HubLink::Event::Opened: OnLinkOpened(event.id); break;
        case HubLink::Event::Line: OnLinkLine(event); break;
        case HubLink::Event::Closed: Link->OnClosed(event.id); break;
        }
    }
}

LRESULT CALLBACK ServiceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (Link && message == Link->Doorbell()) {
        OnLinkEvents();
        return 0;
    }
    switch (message) {
    case WM_TIMER:
        if (wParam == PingTimer) {
            Service.Ping();
        } else if (wParam == LinkTimer) {
            OnLinkEvents(); // a doorbell that could not be posted
            Link->Poll();
        } else if (wParam == IdleTimer && Service.Objects() == 0 && ServerLocks == 0) {
            Shutdown();
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateServiceWindow(HINSTANCE instance)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ServiceWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "NelkoVoiceService";
    if (!RegisterClassA(&windowClass))
        return nullptr;
    return CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           instance, nullptr);
}

int Serve(HINSTANCE instance)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    // First thing: a client's CoCreateInstance waits for this.
    if (FAILED(CoRegisterClassObject(CLSID_VCmd, &Factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE,
                                     &ClassCookie))) {
        CoUninitialize();
        return 1;
    }
    Window = CreateServiceWindow(instance);
    if (!Window) {
        Shutdown();
    } else {
        static HubLink link(Window, HubPipeName(), HubProgramPath());
        Link = &link;
        Link->Poll();
        SetTimer(Window, PingTimer, PingMs, nullptr);
        SetTimer(Window, LinkTimer, LinkMs, nullptr);
        SetTimer(Window, IdleTimer, IdleMs, nullptr);
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (!Revoked)
        CoRevokeClassObject(ClassCookie);
    // A dead client's proxies cannot be released politely: leave at once.
    if (ClientDied)
        ExitProcess(0);
    CoUninitialize();
    return 0;
}

void Print(FILE *stream, const std::string &text)
{
    fputs(text.c_str(), stream);
    fflush(stream);
}

// Hands one line to the hub and reads its answer: Done, or NoHub with the
// reason printed.
int AskHub(const std::string &line, DWORD replyMs, ChannelMessage *answer)
{
    PipeClient hub;
    if (!hub.Connect(HubPipeName(), HubProgramPath(), HubReplyMs)) {
        if (!hub.Refusal().empty()) {
            Print(stderr, "nelkovoice: the voice hub's pipe is not the hub's: " + hub.Refusal() +
                              "; nothing was sent\n");
            return Impostor;
        }
        Print(stderr, "nelkovoice: no voice hub is running\n");
        return NoHub;
    }
    std::string reply;
    if (!hub.Send(line) || !hub.ReadLine(&reply, replyMs) || !ParseChannelLine(reply, answer)) {
        Print(stderr, "nelkovoice: the hub did not answer\n");
        return NoHub;
    }
    return Done;
}

int Say(int argc, char **argv)
{
    std::string phrase;
    for (int i = 2; i < argc; ++i)
        phrase += (i > 2 ? " " : "") + std::string(argv[i]);
    ChannelMessage message;
    const int asked = AskHub(FormatSayNotice({phrase}), HubReplyMs, &message);
    if (asked != Done)
        return asked;
    SaidNotice said;
    if (!ParseSaidNotice(message, &said)) {
        Print(stderr, "nelkovoice: the hub did not take \"" + phrase + "\"\n");
        return NoHub;
    }
    return said.services == 0 ? NotListened : Done;
}

// The path as the hub must see it: the hub runs in a folder of its own.
int Listen(const char *file)
{
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(file, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full) {
        Print(stderr, std::string("nelkovoice: no such file: ") + file + "\n");
        return NoHub;
    }
    ChannelMessage message;
    const int asked = AskHub(FormatListenNotice({full}), ListenReplyMs, &message);
    if (asked != Done)
        return asked;
    ListeningNotice listening;
    ReasonNotice refused;
    if (ParseListeningNotice(message, &listening))
        return Done;
    if (ParseRefusedNotice(message, &refused) || ParseErrorNotice(message, &refused))
        Print(stderr,
              "nelkovoice: the hub refused " + std::string(full) + ": " + refused.why + "\n");
    else
        Print(stderr, "nelkovoice: the hub did not answer\n");
    return NoHub;
}

int List()
{
    ChannelMessage message;
    const int asked = AskHub(FormatEmptyNotice(Verb::List), HubReplyMs, &message);
    if (asked != Done)
        return asked;
    CommandsNotice commands;
    if (!ParseCommandsNotice(message, &commands)) {
        Print(stderr, "nelkovoice: the hub did not answer\n");
        return NoHub;
    }
    for (const std::string &phrase : commands.phrases)
        Print(stdout, phrase + "\n");
    return commands.phrases.empty() ? NotListened : Done;
}

bool IsSwitch(const char *arg, const char *name)
{
    return (arg[0] == '/' || arg[0] == '-') && lstrcmpiA(arg + 1, name) == 0;
}

std::string Text(HINSTANCE instance, UINT id)
{
    char text[512];
    const int n = LoadStringA(instance, id, text, sizeof text);
    return std::string(text, n > 0 ? n : 0);
}

// /regserver or /unregserver, with /machine for every user.
int Install(bool add, bool machine)
{
    const InstallScope scope = machine ? InstallScope::Machine : InstallScope::User;
    std::string why;
    const DWORD error = add ? RegisterService(scope, &why) : UnregisterService(scope);
    if (error)
        Print(stderr, std::string("nelkovoice: ") + (add ? "registration" : "removal") +
                          " failed, error " + std::to_string(error) +
                          (why.empty() ? "" : ": " + why) + "\n");
    return static_cast<int>(error);
}

// Started with no arguments (a double-click): offers to install for the
// current user and says what it did.
int OfferInstall(HINSTANCE instance)
{
    const std::string title = Text(instance, IDS_INSTALL_TITLE);
    if (MessageBoxA(nullptr, Text(instance, IDS_INSTALL_ASK).c_str(), title.c_str(),
                    MB_YESNO | MB_ICONQUESTION) != IDYES)
        return Done;
    const DWORD error = RegisterService(InstallScope::User);
    char text[512];
    snprintf(text, sizeof text,
             Text(instance, error ? IDS_INSTALL_FAILED : IDS_INSTALL_DONE).c_str(),
             static_cast<unsigned long>(error));
    MessageBoxA(nullptr, text, title.c_str(), MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
    return static_cast<int>(error);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    LoadDllsFromOwnFolders();
    const int argc = __argc;
    char **argv = __argv;
    if (argc >= 2 && IsSwitch(argv[1], "Embedding"))
        return Serve(instance);
    if (argc == 1)
        return OfferInstall(instance);
    const bool machine = argc == 3 && IsSwitch(argv[2], "machine");
    if ((argc == 2 || machine) && IsSwitch(argv[1], "regserver"))
        return Install(true, machine);
    if ((argc == 2 || machine) && IsSwitch(argv[1], "unregserver"))
        return Install(false, machine);
    if (argc >= 3 && IsSwitch(argv[1], "say"))
        return Say(argc, argv);
    if (argc == 2 && IsSwitch(argv[1], "list"))
        return List();
    if (argc == 3 && IsSwitch(argv[1], "listen"))
        return Listen(argv[2]);
    Print(stderr, "use: nelkovoice.exe /regserver [/machine] | /unregserver [/machine] | /say "
                  "PHRASE | /listen FILE.wav | /list\n");
    return Usage;
}
