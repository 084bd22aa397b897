// What the voice tests share: message boxes caught and dismissed, the
// UseSpeech setting set and restored, a stand-in feedback program, and one
// voice test at a time across processes (they share the registry and files).
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace voicetest {

struct Box {
    std::string text;
    std::string caption;
    bool owned; // has an owner window
    bool operator==(const Box &other) const
    {
        return text == other.text && caption == other.caption && owned == other.owned;
    }
};
std::ostream &operator<<(std::ostream &out, const Box &box);

// A box with no owner and no caption: the system shows "Error".
Box Unowned(const char *text, const char *caption = "Error");

// Catches every message box this thread shows while it lives, records it and
// presses OK.
class BoxCatcher {
  public:
    BoxCatcher();
    ~BoxCatcher();
    BoxCatcher(const BoxCatcher &) = delete;
    BoxCatcher &operator=(const BoxCatcher &) = delete;
    std::vector<Box> boxes;

  private:
    HHOOK hook;
};

// Holds the machine-wide voice test lock, and saves HKCU "Software\Voice"
// UseSpeech, restoring it when it ends.
class SettingGuard {
  public:
    SettingGuard();
    ~SettingGuard();
    SettingGuard(const SettingGuard &) = delete;
    SettingGuard &operator=(const SettingGuard &) = delete;

  private:
    HANDLE lock;
    bool keyExisted = false;
    bool valueExisted = false;
    DWORD type = 0;
    std::vector<BYTE> data;
};

void SetUseSpeech(DWORD type, const void *data, DWORD size);
void SetUseSpeech(DWORD value); // REG_DWORD
void RemoveUseSpeech();         // the value only
void RemoveVoiceKey();          // the key and its values

// Feedback.exe beside the test program (a copy of the stand-in), removed
// when this ends; WinExec finds it by its bare name.
class FeedbackProgram {
  public:
    FeedbackProgram();
    ~FeedbackProgram();
    FeedbackProgram(const FeedbackProgram &) = delete;
    FeedbackProgram &operator=(const FeedbackProgram &) = delete;
    bool installed;
};
void RemoveFeedbackProgram(); // waits for a running copy to end

// A hidden top-level window titled as the feedback program's.
class FeedbackWindow {
  public:
    FeedbackWindow();
    ~FeedbackWindow();
    FeedbackWindow(const FeedbackWindow &) = delete;
    FeedbackWindow &operator=(const FeedbackWindow &) = delete;
    HWND window;
};

} // namespace voicetest
