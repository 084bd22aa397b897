// The application shell: configuration, the character window, pointer input
// and the command table.
#pragma once
#include "app/platform.h"
#include <cstdint>

// Configuration, read from the string table at start-up.
extern char WindowTitle[64];  // string 1; also names the voice menu
extern uint16_t CommandCount; // string 10, at most CommandTableSize; menu, voice block, sink
extern uint16_t FrameWidth;   // string 1003; sprite and behaviour
extern uint16_t FrameHeight;  // string 1004; sprite and behaviour
extern HINSTANCE AppInstance; // null until the window is created (null = own module)
extern HWND MainWindow;       // the character window; behaviour starters, CloseCharacter

// Pointer state: Dragging is also read by the behaviour engine's idle choice.
extern uint32_t Dragging;
extern uint32_t DragAnchor; // packed signed 16-bit client x (low) and y (high)
constexpr int DragThreshold = 5;
constexpr uint32_t PointerLeftButton = 0x0001; // MK_LBUTTON

// A pointer move (the message's wParam and lParam). Without the left button it
// only records the anchor; with it, it starts a drag once the pointer is more
// than DragThreshold pixels from the anchor on either axis, and from the next
// move on returns 1 with the offset the window is to move by.
int PointerMoved(uint32_t keys, uint32_t position, int32_t *dx, int32_t *dy);

// Decimal number as the configuration strings hold it: leading white space,
// one optional sign, digits in wrapping 32-bit arithmetic; no digits gives 0.
uint32_t ParseDecimal(const char *text);

// The string table lookup every reader of configuration and labels goes
// through. Copies at most size - 1 characters and terminates; returns the
// number copied, 0 (with an empty buffer) when the string is missing or empty.
int LoadText(UINT id, char *buffer, int size);

// The command table: command n has label 8000 + n, menu id 2000 + n and voice
// action value n + 1.
constexpr int CommandTableSize = 11;
typedef void (*CommandHandler)();
extern const CommandHandler CommandHandlers[CommandTableSize];

// Runs command n when it is offered (n < CommandCount); returns 1 when a
// handler ran, 0 for a number outside the table.
int RunCommand(uint32_t n);
int BuildPopupMenu();
void EnableRandomMode();
void CloseCharacter();

#ifdef _WIN32
extern HMENU PopupMenu;
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);
int RegisterMainClass(HINSTANCE instance);
int CreateMainWindow(HINSTANCE instance, int show);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
#endif
