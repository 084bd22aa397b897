// The About box: the About picture in a modal dialog sized to it and centred.
#pragma once
#include "app/platform.h"
#include <cstdint>

#ifdef _WIN32
void ShowAboutBox();
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void SizeAboutBox(HWND dialog, uint16_t width, uint16_t height);
#endif
