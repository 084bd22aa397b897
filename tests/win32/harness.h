// Helpers shared by the Win32 tests: running the character program and its
// variants as processes, and finding their windows.
#pragma once
#include <windows.h>
#include <string>

namespace harness {

// The folder of the running test program; the variants are built beside it
// and nelko.exe two folders up.
std::string TestDir();
std::string CharacterProgram();        // nelko.exe
std::string Variant(const char *name); // nelko-<name>.exe

// A started program; ended (by force if still running) when it goes out of scope.
class Process {
  public:
    explicit Process(const std::string &path, const char *arguments = "");
    ~Process();
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;
    bool Started() const { return info_.hProcess != nullptr; }
    // The exit code, or STILL_ACTIVE after timeoutMs.
    DWORD Wait(DWORD timeoutMs);
    DWORD Id() const { return info_.dwProcessId; }

  private:
    PROCESS_INFORMATION info_ = {};
};

// The character window of process id, or nullptr after timeoutMs.
HWND FindCharacterWindow(DWORD processId, DWORD timeoutMs);

// Dispatches this thread's messages for ms milliseconds.
void Pump(DWORD ms);

} // namespace harness
