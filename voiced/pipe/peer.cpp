// The peer checks: the server's program and user, read from the system.
#include "voiced/pipe/peer.h"
#include "common/win32.h"
#include <aclapi.h>
#include <sddl.h>

namespace {

// The full path of a program, as the system names it (long names).
std::string LongPath(const std::string &path)
{
    char full[MAX_PATH];
    const DWORD n = GetLongPathNameA(path.c_str(), full, sizeof full);
    return n > 0 && n < sizeof full ? std::string(full, n) : path;
}

std::string SidText(PSID sid)
{
    std::string text;
    char *converted = nullptr;
    if (sid && ConvertSidToStringSidA(sid, &converted)) {
        text = converted;
        LocalFree(converted);
    }
    return text;
}

// The owner a kernel object's security descriptor names; empty when it
// cannot be read.
std::string OwnerOf(HANDLE object)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return "";
    const std::string text = SidText(owner);
    LocalFree(descriptor);
    return text;
}

DWORD OwnSession()
{
    DWORD session = 0;
    return ProcessIdToSessionId(GetCurrentProcessId(), &session) ? session : ~DWORD{0};
}

// What the pipe itself says of its server, which a reused process id cannot
// change: the user owning it and the session serving it.
std::string CheckPipe(HANDLE pipe, const std::string &user)
{
    if (OwnerOf(pipe) != user)
        return "the pipe belongs to another user";
    ULONG session = 0;
    if (!GetNamedPipeServerSessionId(pipe, &session) || session != OwnSession())
        return "its server is in another session";
    return "";
}

} // namespace

std::string UserOf(HANDLE process)
{
    std::string sid;
    ScopedHandle token;
    if (!OpenProcessToken(process, TOKEN_QUERY, token.Put()))
        return sid;
    char buffer[256];
    DWORD size = 0;
    if (GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size))
        sid = SidText(reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid);
    return sid;
}

std::string CheckServer(HANDLE pipe, const std::string &server)
{
    ULONG pid = 0;
    if (!GetNamedPipeServerProcessId(pipe, &pid))
        return "its server cannot be identified";
    const std::string unknown =
        "its server (process " + std::to_string(pid) + ") cannot be identified";
    const ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process)
        return unknown;
    char image[MAX_PATH];
    DWORD size = sizeof image;
    std::string why, user;
    if (!QueryFullProcessImageNameA(process.Get(), 0, image, &size))
        why = unknown;
    else if (lstrcmpiA(LongPath(std::string(image, size)).c_str(), LongPath(server).c_str()) != 0)
        why = "it is served by " + std::string(image, size) + ", not by " + server;
    else if ((user = UserOf(process.Get())).empty() || user != UserOf(GetCurrentProcess()))
        why = "its server runs as another user";
    else
        why = CheckPipe(pipe, user);
    return why;
}
