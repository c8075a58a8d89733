// Test control of the fake embedding calls in fake_embedding.cpp.
#ifndef VELQA_TESTS_SHELL_FAKE_EMBEDDING_H_
#define VELQA_TESTS_SHELL_FAKE_EMBEDDING_H_

#include <windows.h>

// The DPI FlutterDesktopGetDpiForMonitor reports for every monitor.
void SetFakeMonitorDpi(UINT dpi);
// How often FlutterDesktopResyncOutputStreams ran.
int FakeResyncCount();

#endif  // VELQA_TESTS_SHELL_FAKE_EMBEDDING_H_
