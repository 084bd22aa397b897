// Where a program's DLLs come from: the system folder and the program's own
// folder, never the current folder or PATH, where anyone could plant one.
// Called first thing in each program's entry point.
#pragma once
#include <windows.h>

inline void LoadDllsFromSystemAndProgramFolders()
{
    // Looked up by name: systems without the update that brought it lack it.
    typedef BOOL(WINAPI * SetDirectories)(DWORD);
    const DWORD systemAndProgram = 0x800 | 0x200; // LOAD_LIBRARY_SEARCH_SYSTEM32, _APPLICATION_DIR
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const SetDirectories set = reinterpret_cast<SetDirectories>(reinterpret_cast<void *>(
        kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr));
    if (!set || !set(systemAndProgram))
        SetDllDirectoryA(""); // at least the current folder is out of the search
}
