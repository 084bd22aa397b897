// The checks on a file to listen to, made on the opened handle.
#include "voiced/hub/soundfile.h"
#include "common/win32.h"

namespace {

// The path as the system spells it in full, long names, no "\\?\" prefix.
std::string Spelled(std::string path)
{
    if (path.rfind("\\\\?\\", 0) == 0)
        path.erase(0, 4);
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (n > 0 && n < sizeof full)
        path.assign(full, n);
    n = GetLongPathNameA(path.c_str(), full, sizeof full);
    return n > 0 && n < sizeof full ? std::string(full, n) : path;
}

// The drive a final path lies on: its type.
UINT DriveOf(const std::string &final)
{
    if (final.size() < 3 || final[1] != ':')
        return DRIVE_UNKNOWN;
    return GetDriveTypeA(final.substr(0, 3).c_str());
}

} // namespace

const char *NotAPlainLocalFile(const std::string &path)
{
    // Not followed: a reparse point is looked at itself.
    const ScopedHandle file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        return "the file cannot be opened";
    if (GetFileType(file.Get()) != FILE_TYPE_DISK)
        return "not a file: a device";
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.Get(), &info) ||
        info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        return "not a plain file";
    char final[MAX_PATH];
    const DWORD n = GetFinalPathNameByHandleA(file.Get(), final, sizeof final, VOLUME_NAME_DOS);
    if (n == 0 || n >= sizeof final)
        return "the file's place cannot be read";
    const std::string place = Spelled(std::string(final, n));
    if (lstrcmpiA(place.c_str(), Spelled(path).c_str()) != 0)
        return "the path leads elsewhere (a link or junction)";
    switch (DriveOf(place)) {
    case DRIVE_FIXED:
    case DRIVE_REMOVABLE:
    case DRIVE_CDROM:
    case DRIVE_RAMDISK: return nullptr;
    case DRIVE_REMOTE: return "the file is on a network drive";
    }
    return "no such drive";
}
