// The hub's names and the channel's clock.
#include "voiced/pipe/names.h"
#include "common/feedback.h"
#include "common/win32.h"

namespace {

DWORD SessionId()
{
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session))
        session = 0;
    return session;
}

} // namespace

std::string HubPipeName()
{
    return "\\\\.\\pipe\\NelkoVoiceHub-" + std::to_string(SessionId());
}

std::string HubMutexName()
{
    return "Local\\NelkoVoiceHub";
}

std::string HubProgramPath()
{
    return ProgramFolder() + FeedbackProgram;
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
