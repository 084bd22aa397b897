// The hub's names and the channel's clock.
#include "voiced/pipe/names.h"
#include "common/feedback.h"
#include "common/win32.h"
#include "voiced/pipe/peer.h"

namespace {

DWORD SessionId()
{
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session))
        session = 0;
    return session;
}

} // namespace

// The user's SID in a name: another user's programs neither find nor take
// this user's hub by name.
std::string HubPipeName()
{
    return "\\\\.\\pipe\\NelkoVoiceHub-" + UserOf(GetCurrentProcess()) + "-" +
           std::to_string(SessionId());
}

std::string HubMutexName()
{
    return "Local\\NelkoVoiceHub-" + UserOf(GetCurrentProcess());
}

// In UTF-8, read through the wide-character call: a folder named outside the
// ANSI code page is still found.
std::string HubProgramPath()
{
    wchar_t path[MAX_PATH + 1];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH)
        return "";
    const std::string file = Utf8FromWide(std::wstring(path, n));
    return file.substr(0, file.find_last_of('\\') + 1) + FeedbackProgram;
}

uint64_t MicrosecondsNow()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart / frequency.QuadPart * 1000000 +
                                 now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart);
}
