// The few Win32 types the embedding's interface uses. On Windows they are the
// real ones; elsewhere (the portable unit tests) they are stand-ins of the same
// size, so code and tests using the wrappers compile on every platform.
#ifndef VELQA_CHANNEL_WIN32_TYPES_H_
#define VELQA_CHANNEL_WIN32_TYPES_H_

#ifdef _WIN32
#include <windows.h>
#else
#include <stdint.h>
typedef struct HWND__* HWND;
typedef struct HMONITOR__* HMONITOR;
typedef unsigned int UINT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
#endif

#endif  // VELQA_CHANNEL_WIN32_TYPES_H_
