// Scope-bound owners for what Win32 hands out, shared by the character and the
// voice programs: a handle, key, DC or COM pointer opened in a function is
// released on every path out of it; what another thread hands to a window
// waits in a mailbox the window owns.
#pragma once
#include <windows.h>
#include <unknwn.h>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

// One owner of one T, released by Traits::Close(T) unless it is
// Traits::Invalid(). Put() hands the address to a function that opens one.
template <class T, class Traits> class Scoped {
  public:
    Scoped() = default;
    explicit Scoped(T value) : value_(value) {}
    ~Scoped() { Reset(); }
    Scoped(Scoped &&other) noexcept : value_(other.Release()) {}
    Scoped &operator=(Scoped &&other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    Scoped(const Scoped &) = delete;
    Scoped &operator=(const Scoped &) = delete;

    T Get() const { return value_; }
    explicit operator bool() const { return !Traits::Invalid(value_); }
    T *Put()
    {
        Reset();
        return &value_;
    }
    T Release() { return std::exchange(value_, Traits::Empty()); }
    void Reset(T value = Traits::Empty())
    {
        if (!Traits::Invalid(value_))
            Traits::Close(value_);
        value_ = value;
    }

  private:
    T value_ = Traits::Empty();
};

// Kernel objects: files, pipes, events, mutexes, threads. Both null and
// INVALID_HANDLE_VALUE mean none.
struct HandleTraits {
    static HANDLE Empty() { return nullptr; }
    static bool Invalid(HANDLE h) { return !h || h == INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
using ScopedHandle = Scoped<HANDLE, HandleTraits>;

// An open registry key (never one of the predefined roots).
struct KeyTraits {
    static HKEY Empty() { return nullptr; }
    static bool Invalid(HKEY key) { return !key; }
    static void Close(HKEY key) { RegCloseKey(key); }
};
using RegistryKey = Scoped<HKEY, KeyTraits>;

// A memory DC (CreateCompatibleDC) and a GDI object (a bitmap, region, brush).
struct MemoryDCTraits {
    static HDC Empty() { return nullptr; }
    static bool Invalid(HDC dc) { return !dc; }
    static void Close(HDC dc) { DeleteDC(dc); }
};
using MemoryDC = Scoped<HDC, MemoryDCTraits>;
template <class H> struct GdiTraits {
    static H Empty() { return nullptr; }
    static bool Invalid(H object) { return !object; }
    static void Close(H object) { DeleteObject(object); }
};
template <class H> using GdiObject = Scoped<H, GdiTraits<H>>;

// A window's or the screen's DC (GetDC), given back with ReleaseDC.
class WindowDC {
  public:
    explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDC()
    {
        if (dc_)
            ReleaseDC(window_, dc_);
    }
    WindowDC(const WindowDC &) = delete;
    WindowDC &operator=(const WindowDC &) = delete;
    HDC Get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

  private:
    HWND window_;
    HDC dc_;
};

// A COM interface pointer holding one reference.
template <class I> class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes over a reference the caller already holds.
    static ComPtr Adopt(I *object)
    {
        ComPtr taken;
        taken.object_ = object;
        return taken;
    }
    // Adds a reference of its own.
    static ComPtr Share(I *object)
    {
        if (object)
            object->AddRef();
        return Adopt(object);
    }
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr &other) : object_(other.object_)
    {
        if (object_)
            object_->AddRef();
    }
    ComPtr(ComPtr &&other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ComPtr &operator=(ComPtr other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }

    I *Get() const { return object_; }
    I *operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    I **Put()
    {
        Reset();
        return &object_;
    }
    void **PutVoid() { return reinterpret_cast<void **>(Put()); }
    I *Detach() { return std::exchange(object_, nullptr); }
    void Reset()
    {
        if (I *object = std::exchange(object_, nullptr))
            object->Release();
    }

  private:
    I *object_ = nullptr;
};

// The running program's full path; empty when it cannot be read.
inline std::string ProgramFile()
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, n < sizeof path ? n : 0);
}

// The folder of the running program, with its closing backslash.
inline std::string ProgramFolder()
{
    const std::string file = ProgramFile();
    return file.substr(0, file.find_last_of("\\/") + 1);
}

// DLLs named without a path are looked for in the system folder and the
// program's own only, never in the current folder; where the system lacks
// the call, only the current folder is taken out of the search.
inline void LoadDllsFromOwnFolders()
{
    using SetDirectories = BOOL(WINAPI *)(DWORD);
    const auto set = reinterpret_cast<SetDirectories>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (!set || !set(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR))
        SetDllDirectoryA("");
}

// A message number for a window that takes work from other threads,
// registered under a name of this desktop session's own: no stray WM_APP
// message means anything to it.
inline UINT SessionMessage(const char *name)
{
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session))
        session = 0;
    return RegisterWindowMessageA((std::string(name) + "-" + std::to_string(session)).c_str());
}

// Hands items from other threads to a window's thread. The items wait in a
// queue the mailbox owns, behind a lock; the window is posted only a
// doorbell that carries nothing, so a forged or stray one makes the window
// look at its queue and no more. A ring that could not be posted (the
// window's queue full) is tried again with the next item, and a window that
// also looks on a timer finds what waits anyway.
template <class T> class Mailbox {
  public:
    Mailbox(HWND window, UINT doorbell) : window_(window), doorbell_(doorbell) {}
    UINT Doorbell() const { return doorbell_; }
    // Any thread.
    void Post(T item)
    {
        std::lock_guard<std::mutex> hold(lock_);
        items_.push_back(std::move(item));
        if (!rung_)
            rung_ = PostMessageA(window_, doorbell_, 0, 0) != 0;
    }
    // The window's thread: the oldest item waiting; false when none waits.
    // One at a time, so that a handler that pumps messages keeps the order.
    bool Next(T *item)
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (items_.empty()) {
            rung_ = false;
            return false;
        }
        *item = std::move(items_.front());
        items_.pop_front();
        return true;
    }

  private:
    HWND window_;
    UINT doorbell_;
    std::mutex lock_;
    std::deque<T> items_; // under lock_
    bool rung_ = false;   // under lock_: a doorbell is on its way
};
