// Win32 types for the code that also builds on the host (the logic under test).
// On Windows this is <windows.h>; on the host, the few types that code uses.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdint>

typedef int32_t LONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef unsigned int UINT;
typedef int BOOL;
typedef uintptr_t UINT_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef int32_t HRESULT;
typedef struct HWND__ *HWND;
typedef struct HINSTANCE__ *HINSTANCE;

struct RECT {
    LONG left, top, right, bottom;
};

#define CALLBACK
#endif
