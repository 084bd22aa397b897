// The peer checks: the server's program and user, read from the system.
#include "voiced/pipe/peer.h"
#include "common/win32.h"
#include <aclapi.h>
#include <sddl.h>

namespace {

// What the file at a path is, however the path is spelt: its volume's serial
// number and its index there. False when it cannot be opened or read.
bool IdentityOf(const std::wstring &path, BY_HANDLE_FILE_INFORMATION *info)
{
    const ScopedHandle file(CreateFileW(path.c_str(), 0,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    return file && GetFileInformationByHandle(file.Get(), info);
}

bool SameFile(const std::wstring &one, const std::wstring &other)
{
    BY_HANDLE_FILE_INFORMATION a, b;
    return IdentityOf(one, &a) && IdentityOf(other, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// A process's mandatory integrity level (its label's last sub-authority);
// 0 when it cannot be read.
DWORD IntegrityOf(HANDLE process)
{
    ScopedHandle token;
    if (!OpenProcessToken(process, TOKEN_QUERY, token.Put()))
        return 0;
    char buffer[128];
    DWORD size = 0;
    if (!GetTokenInformation(token.Get(), TokenIntegrityLevel, buffer, sizeof buffer, &size))
        return 0;
    PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL *>(buffer)->Label.Sid;
    const UCHAR count = *GetSidSubAuthorityCount(sid);
    return count ? *GetSidSubAuthority(sid, count - 1) : 0;
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

std::wstring WideFromUtf8(const std::string &text)
{
    const int size = static_cast<int>(text.size());
    std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0), L'\0');
    if (!wide.empty())
        MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], static_cast<int>(wide.size()));
    return wide;
}

std::string Utf8FromWide(const std::wstring &text)
{
    const int size = static_cast<int>(text.size());
    std::string utf8(
        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr), '\0');
    if (!utf8.empty())
        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &utf8[0], static_cast<int>(utf8.size()),
                            nullptr, nullptr);
    return utf8;
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
    wchar_t image[MAX_PATH + 1];
    DWORD size = MAX_PATH;
    std::string why, user;
    if (!QueryFullProcessImageNameW(process.Get(), 0, image, &size))
        why = unknown;
    else if (!SameFile(std::wstring(image, size), WideFromUtf8(server)))
        why = "it is served by " + Utf8FromWide(std::wstring(image, size)) + ", not by " + server;
    else if ((user = UserOf(process.Get())).empty() || user != UserOf(GetCurrentProcess()))
        why = "its server runs as another user";
    else if (IntegrityOf(process.Get()) < IntegrityOf(GetCurrentProcess()))
        why = "its server runs at a lower integrity level";
    else
        why = CheckPipe(pipe, user);
    return why;
}
