// The speech setting, the feedback program and the speech-state messages.
#include "voice/voice.h"
#include "common/feedback.h"
#include "common/win32.h"
#include <cstring>

UINT SpeechStartedMessage;
UINT SpeechEndedMessage;

namespace {

constexpr int FeedbackLooks = 50;
constexpr DWORD FeedbackPause = 250; // ms after each look that finds nothing

void ShowSettingError(const char *text, const char *caption = nullptr)
{
    MessageBoxA(nullptr, text, caption, MB_OK);
}

} // namespace

int32_t ReadUseSpeech()
{
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Voice", 0, KEY_READ, key.Put()) !=
        ERROR_SUCCESS) {
        ShowSettingError("Error obtaining the UseSpeech variable from the registry, please install "
                         "the voice command service.");
        return -1;
    }
    // Read as 32 bits whatever the value's type; a shorter value leaves zeros.
    BYTE value[4] = {};
    DWORD type;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key.Get(), "UseSpeech", nullptr, &type, value, &size) != ERROR_SUCCESS) {
        ShowSettingError("Failed reading UseSpeech registry entry value.");
        return -1;
    }
    int32_t setting;
    memcpy(&setting, value, sizeof setting);
    return setting;
}

int32_t PrepareSpeechMode()
{
    const int32_t setting = ReadUseSpeech();
    if (setting != 0)
        return setting; // including -1: set-up ends
    // By its full path beside this program: a bare name would also be
    // looked for in the current folder.
    const std::string program = "\"" + ProgramFolder() + FeedbackProgram + "\"";
    if (WinExec(program.c_str(), SW_HIDE) < 32)
        return -1;
    // Whether the window shows up or not, recognition is switched on.
    for (int look = 0; look < FeedbackLooks; ++look) {
        if (FindWindowA(nullptr, FeedbackWindowTitle))
            break;
        Sleep(FeedbackPause);
    }
    return SpeechModeListening;
}

void RegisterSpeechMessages()
{
    SpeechStartedMessage = RegisterWindowMessageA("WM_SPEECHSTARTED");
    SpeechEndedMessage = RegisterWindowMessageA("WM_SPEECHENDED");
    if (!SpeechStartedMessage || !SpeechEndedMessage)
        ShowSettingError("Can't register messages for obtaining the speech state.", "Warning");
}
