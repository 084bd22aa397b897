#include "harness.h"
#include "common/win32.h"

namespace harness {

std::string TestDir()
{
    return ProgramFolder();
}

std::string CharacterProgram()
{
    return TestDir() + "..\\..\\nelko.exe";
}

std::string Variant(const char *name)
{
    return TestDir() + "nelko-" + name + ".exe";
}

Process::Process(const std::string &path, const char *arguments)
{
    std::string commandLine = "\"" + path + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info_))
        info_ = {};
}

Process::~Process()
{
    if (!info_.hProcess)
        return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

DWORD Process::Wait(DWORD timeoutMs)
{
    DWORD code = STILL_ACTIVE;
    if (info_.hProcess && WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

namespace {
struct Search {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context)
{
    auto *search = reinterpret_cast<Search *>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64];
    if (owner == search->processId && GetClassNameA(window, className, sizeof className) &&
        lstrcmpA(className, "KOV_DesktopToyClass") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
} // namespace

HWND FindCharacterWindow(DWORD processId, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 50) {
        Search search = {processId, nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found || waited >= timeoutMs)
            return search.found;
        Sleep(50);
    }
}

void Pump(DWORD ms)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

} // namespace harness
