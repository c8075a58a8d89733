// The names by which the application and its window are known: a second copy
// finds the first one's window by its class and title.
#ifndef VELQA_SHELL_APP_IDENTITY_H_
#define VELQA_SHELL_APP_IDENTITY_H_

inline constexpr wchar_t kWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";
inline constexpr wchar_t kApplicationTitle[] = L"Velqa电商助手";

#endif  // VELQA_SHELL_APP_IDENTITY_H_
