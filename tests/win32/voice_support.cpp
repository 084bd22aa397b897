// Helpers of the voice tests, see voice_support.h.
#include "voice_support.h"
#include "common/feedback.h"
#include "common/win32.h"
#include <ostream>

namespace voicetest {

namespace {

const char VoiceKey[] = "Software\\Voice";
const char Value[] = "UseSpeech";

BoxCatcher *Catching; // the one live catcher of this thread

std::string WindowText(HWND window)
{
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// The box's message is its one static control with text.
BOOL CALLBACK FindMessage(HWND child, LPARAM found)
{
    char className[32] = "";
    GetClassNameA(child, className, sizeof className);
    std::string text = WindowText(child);
    if (lstrcmpiA(className, "Static") != 0 || text.empty())
        return TRUE;
    *reinterpret_cast<std::string *>(found) = text;
    return FALSE;
}

LRESULT CALLBACK WatchBoxes(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && Catching) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char className[16] = "";
        GetClassNameA(window, className, sizeof className);
        // Under Wine the hook also sees another process's dialog activated
        // (a parallel test's About box): only this process's boxes count.
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (lstrcmpA(className, "#32770") == 0 && process == GetCurrentProcessId()) {
            Box box;
            EnumChildWindows(window, FindMessage, reinterpret_cast<LPARAM>(&box.text));
            box.caption = WindowText(window);
            box.owned = GetWindow(window, GW_OWNER) != nullptr;
            Catching->boxes.push_back(box);
            PostMessageA(window, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::string TestDir()
{
    return ProgramFolder();
}

} // namespace

std::ostream &operator<<(std::ostream &out, const Box &box)
{
    return out << "box \"" << box.text << "\" caption \"" << box.caption << '"'
               << (box.owned ? " owned" : "");
}

Box Unowned(const char *text, const char *caption)
{
    return Box{text, caption, false};
}

BoxCatcher::BoxCatcher()
    : hook(SetWindowsHookExA(WH_CBT, WatchBoxes, nullptr, GetCurrentThreadId()))
{
    Catching = this;
}

BoxCatcher::~BoxCatcher()
{
    Catching = nullptr;
    UnhookWindowsHookEx(hook);
}

SettingGuard::SettingGuard() : lock(CreateMutexA(nullptr, FALSE, "NelkoVoiceTests"))
{
    WaitForSingleObject(lock, INFINITE);
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, VoiceKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    keyExisted = true;
    DWORD size = 0;
    if (RegQueryValueExA(key, Value, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        data.resize(size);
        valueExisted =
            RegQueryValueExA(key, Value, nullptr, &type, data.data(), &size) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
}

SettingGuard::~SettingGuard()
{
    if (!keyExisted)
        RemoveVoiceKey();
    else if (valueExisted)
        SetUseSpeech(type, data.data(), static_cast<DWORD>(data.size()));
    else
        RemoveUseSpeech();
    ReleaseMutex(lock);
    CloseHandle(lock);
}

void SetUseSpeech(DWORD type, const void *data, DWORD size)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, VoiceKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, Value, 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(key);
}

void SetUseSpeech(DWORD value)
{
    SetUseSpeech(REG_DWORD, &value, sizeof value);
}

void RemoveUseSpeech()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, VoiceKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, Value);
    RegCloseKey(key);
}

void RemoveVoiceKey()
{
    RemoveUseSpeech();
    RegDeleteKeyA(HKEY_CURRENT_USER, VoiceKey);
}

FeedbackProgram::FeedbackProgram()
{
    installed = CopyFileA((TestDir() + "nelko-voicefeedback.exe").c_str(),
                          (TestDir() + "Feedback.exe").c_str(), FALSE);
}

FeedbackProgram::~FeedbackProgram()
{
    RemoveFeedbackProgram();
}

void RemoveFeedbackProgram()
{
    // A copy that is still running cannot be deleted: give it a moment to end.
    const std::string path = TestDir() + "Feedback.exe";
    for (int tries = 0; tries < 50; ++tries) {
        if (DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND)
            return;
        Sleep(100);
    }
}

FeedbackWindow::FeedbackWindow()
    : window(CreateWindowExA(0, "STATIC", FeedbackWindowTitle, WS_POPUP, 0, 0, 10, 10, nullptr,
                             nullptr, nullptr, nullptr))
{
}

FeedbackWindow::~FeedbackWindow()
{
    DestroyWindow(window);
}

} // namespace voicetest
