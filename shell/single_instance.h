// One copy of the application at a time: a named mutex marks the running copy,
// and a second copy brings the first one's window forward, tells the user and
// ends.
//
// Threads: the main thread only (the mutex handle is process-wide state
// without a lock).
#ifndef VELQA_SHELL_SINGLE_INSTANCE_H_
#define VELQA_SHELL_SINGLE_INSTANCE_H_

// The mutex whose existence marks a running copy.
inline constexpr wchar_t kSingleInstanceMutexName[] = L"VelqaAssistant_SingleInstance";

// The notice a second copy shows.
inline constexpr wchar_t kAlreadyRunningCaption[] = L"应用程序已在运行";
inline constexpr wchar_t kAlreadyRunningText[] =
    L"Velqa电商助手 已经在运行中。\n\n请检查任务栏或系统托盘。";

// True when this process may run: it created the mutex (and now holds it), or
// the mutex could not be created at all. False when another copy holds it.
bool AcquireSingleInstance();

// Lets go of the mutex if this process holds it; harmless otherwise.
void ReleaseSingleInstance();

// Brings the running copy's top-level window forward (restoring it when
// minimised, flashing it). A window hidden to the tray stays hidden.
void ActivateRunningInstance();

// Modal notice that the application already runs, in the foreground and
// above the running copy's window; returns when dismissed.
void ShowAlreadyRunningNotice();

#endif  // VELQA_SHELL_SINGLE_INSTANCE_H_
