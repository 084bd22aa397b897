// The peer checks: the server's program and user, read from the system.
#include "voiced/pipe/peer.h"
#include "common/win32.h"
#include <sddl.h>

namespace {

// The full path of a program, as the system names it (long names).
std::string LongPath(const std::string &path)
{
    char full[MAX_PATH];
    const DWORD n = GetLongPathNameA(path.c_str(), full, sizeof full);
    return n > 0 && n < sizeof full ? std::string(full, n) : path;
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
    char *text = nullptr;
    if (GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
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
    return why;
}
