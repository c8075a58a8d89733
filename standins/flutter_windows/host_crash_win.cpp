#include "standins/flutter_windows/host_crash_win.h"

#include <windows.h>
// After windows.h: _get_heap_handle.
#include <malloc.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <thread>

namespace velqa::standin {
namespace {

// Volatile, so the compiler can neither see the fault coming nor drop it.
int* volatile null_target = nullptr;
volatile bool keep_recursing = true;

int Recurse(int depth) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(depth);
  if (!keep_recursing) return frame[0];
  return Recurse(depth + 1) + frame[0];
}

// Takes the lock the C runtime's own output functions take for stdout, and
// keeps it. The runtime's export is called: mingw's static _lock_file picks
// the stream's lock by a table offset that Wine's runtime does not share.
void LockStdout() {
  using LockFileFn = void(__cdecl*)(FILE*);
  const auto lock_file = reinterpret_cast<LockFileFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"msvcrt.dll"), "_lock_file")));
  if (lock_file != nullptr) {
    lock_file(stdout);
  } else {
    _lock_file(stdout);
  }
}

void ExecuteIllegalInstruction() {
  // ud2, the instruction defined to be invalid, on a page of its own.
  void* page = ::VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  if (page == nullptr) return;
  const unsigned char ud2[] = {0x0F, 0x0B};
  std::memcpy(page, ud2, sizeof(ud2));
  reinterpret_cast<void (*)()>(page)();
}

void Crash(CrashKind kind) {
  switch (kind) {
    case CrashKind::kAccessViolation:
      *null_target = 1;
      break;
    case CrashKind::kStackOverflow:
      Recurse(0);
      break;
    case CrashKind::kIllegalInstruction:
      ExecuteIllegalInstruction();
      break;
    case CrashKind::kTerminate:
      std::terminate();
    case CrashKind::kHeapLocked:
      // Never unlocked: the fault leaves them taken, as a crash inside the
      // heap's own code does.
      ::HeapLock(::GetProcessHeap());
      if (reinterpret_cast<HANDLE>(_get_heap_handle()) != ::GetProcessHeap()) {
        ::HeapLock(reinterpret_cast<HANDLE>(_get_heap_handle()));
      }
      *null_target = 1;
      break;
    case CrashKind::kStdoutLocked:
      LockStdout();
      *null_target = 1;
      break;
  }
}

}  // namespace

void CrashHost(CrashKind kind, bool on_worker) {
  if (!on_worker) {
    Crash(kind);
    return;
  }
  std::thread worker([kind] { Crash(kind); });
  worker.join();
}

}  // namespace velqa::standin
