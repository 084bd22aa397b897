// The connection to the voice-command service: connect at start-up, fill and
// activate the voice menu, release everything at exit.
#include "app/app.h"
#include "voice/voice.h"
#include "common/win32.h"
#include <cstdlib>
#include <cstring>
#include <new>

IVoiceCmdA *VoiceCommandService;
IVCmdDialogsA *VoiceDialogs;
IVCmdAttributesA *VoiceAttributes;
IVCmdMenuA *VoiceMenu;
VoiceNotifySink *VoiceSink;

namespace {

// Whether CoInitialize succeeded, so that VoiceDisconnect balances it and
// never undoes an initialisation that was not ours.
bool ComStarted;

const char MenuState[] = "Main";
const char MenuDialect[] = "US English";
constexpr WORD MenuLanguage = LANG_ENGLISH; // no sublanguage

void ShowVoiceError(const char *text)
{
    MessageBoxA(nullptr, text, nullptr, MB_OK);
}

// Copies text into a fixed field, cut to leave room for the terminating zero.
template <size_t N> void CopyField(char (&field)[N], const char *text)
{
    const size_t n = strnlen(text, N - 1);
    memcpy(field, text, n);
    field[n] = '\0';
}

// Lets go of one interface and empties its slot.
template <class I> void LetGo(I *&slot)
{
    ComPtr<I>::Adopt(std::exchange(slot, nullptr));
}

int FailConnect()
{
    ReleaseVoiceInterfaces();
    return 0;
}

} // namespace

int VoiceConnect()
{
    if (FAILED(CoInitialize(nullptr)))
        return FailConnect();
    ComStarted = true;
    if (CoCreateInstance(CLSID_VCmd, nullptr, CLSCTX_LOCAL_SERVER, IID_IVoiceCmdA,
                         reinterpret_cast<void **>(&VoiceCommandService)) != S_OK)
        return FailConnect();
    if (FAILED(VoiceCommandService->QueryInterface(IID_IVCmdDialogsA,
                                                   reinterpret_cast<void **>(&VoiceDialogs))))
        return FailConnect();
    if (FAILED(VoiceCommandService->QueryInterface(IID_IVCmdAttributesA,
                                                   reinterpret_cast<void **>(&VoiceAttributes))))
        return FailConnect();

    // The sink lives by the service's references from here on, even when a
    // later step fails.
    VoiceSink = new (std::nothrow) VoiceNotifySink;
    if (!VoiceSink)
        return FailConnect();
    if (FAILED(VoiceCommandService->Register("", VoiceSink, IID_IVCmdNotifySinkA,
                                             VCMDRF_ALLNOTIFICATIONS, nullptr)))
        return FailConnect();

    VCMDNAMEA name = {};
    CopyField(name.szApplication, WindowTitle);
    CopyField(name.szState, MenuState);
    LANGUAGEA language = {};
    language.LanguageID = MenuLanguage;
    CopyField(language.szDialect, MenuDialect);
    if (FAILED(VoiceCommandService->MenuCreate(&name, &language, VCMDMC_TEMPORARY, &VoiceMenu)))
        return FailConnect();
    return 1;
}

void VoiceSetUp()
{
    if (!VoiceMenu)
        return;
    const int32_t mode = PrepareSpeechMode();
    if (mode == -1)
        return;
    RegisterSpeechMessages();

    CommandListBlock block;
    uint32_t count;
    if (!BuildCommandListBlock(&block, &count)) {
        ShowVoiceError("Out of memory during VCMD initialization.");
        return;
    }
    SDATA data = {block.data, block.size};
    DWORD firstCommand = 0;
    const HRESULT added = VoiceMenu->Add(count, data, &firstCommand);
    free(block.data); // the service copied it during the call
    if (FAILED(added)) {
        ShowVoiceError("Error adding commands to menu.");
        return;
    }

    if (mode == SpeechModeListening &&
        (VoiceAttributes->EnabledSet(1) != S_OK || VoiceAttributes->AwakeStateSet(1) != S_OK))
        ShowVoiceError("Error enabling TTS during VCMD initialization.");
    if (ActivateVoiceMenu() != S_OK)
        ShowVoiceError("Error activating the SR command menu.");
}

HRESULT ActivateVoiceMenu()
{
    VoiceMenu->Deactivate();
    // No listening window: the commands are heard whichever window is in front.
    return VoiceMenu->Activate(nullptr, 0);
}

void ReleaseVoiceInterfaces()
{
    // The connection's interfaces live until the character exits.
    LetGo(VoiceMenu);
    LetGo(VoiceAttributes);
    LetGo(VoiceDialogs);
    LetGo(VoiceCommandService);
}

void VoiceDisconnect()
{
    ReleaseVoiceInterfaces();
    if (ComStarted)
        CoUninitialize();
    ComStarted = false;
}
