#include <windows.h>
// After windows.h, which they need.
#include <psapi.h>
#include <tlhelp32.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/win_resources_win.h"
#include "bench/soak/process_counters.h"

namespace velqa_bench {
namespace {

// The system handle table as NtQuerySystemInformation(SystemHandleInformation)
// returns it: a count, then one entry per open handle of every process.
struct HandleEntry {
  USHORT process_id;  // the low 16 bits of the owner's id
  USHORT back_trace_index;
  UCHAR object_type;
  UCHAR attributes;
  USHORT value;
  PVOID object;
  ULONG granted_access;
};
struct HandleTable {
  ULONG count;
  HandleEntry entries[1];
};
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// This process's entries of the system handle table.
std::optional<std::vector<HandleEntry>> OwnHandles() {
  static const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return std::nullopt;
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    ULONG needed = 0;
    const LONG status = query(kSystemHandleInformation, buffer.data(),
                              static_cast<ULONG>(buffer.size()), &needed);
    if (status == kInfoLengthMismatch) {
      buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
      continue;
    }
    if (status < 0) return std::nullopt;
    break;
  }
  const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
  const USHORT own = static_cast<USHORT>(::GetCurrentProcessId());
  std::vector<HandleEntry> handles;
  for (ULONG i = 0; i < table->count; ++i) {
    if (table->entries[i].process_id == own) handles.push_back(table->entries[i]);
  }
  return handles;
}

std::optional<std::int64_t> CountHandles() {
  const auto handles = OwnHandles();
  if (!handles) return std::nullopt;
  return static_cast<std::int64_t>(handles->size());
}

// The name of a handle's object type (NtQueryObject, ObjectTypeInformation):
// a counted UTF-16 string at the start of the answer.
std::string TypeName(USHORT value) {
  using QueryObject = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  static const auto query = reinterpret_cast<QueryObject>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  struct CountedText {
    USHORT length;
    USHORT maximum;
    PWSTR text;
  };
  alignas(8) unsigned char buffer[1024] = {};
  if (query == nullptr ||
      query(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value)), 2, buffer, sizeof(buffer),
            nullptr) < 0) {
    return "?";
  }
  const auto* name = reinterpret_cast<const CountedText*>(buffer);
  std::string text;
  for (USHORT i = 0; i < name->length / 2 && name->text != nullptr; ++i) {
    text += static_cast<char>(name->text[i] < 128 ? name->text[i] : '?');
  }
  return text;
}

std::optional<std::int64_t> CountThreads() {
  velqa::base::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return std::nullopt;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  const DWORD own = ::GetCurrentProcessId();
  std::int64_t threads = 0;
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more;
       more = ::Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID == own) ++threads;
  }
  return threads;
}

}  // namespace

std::optional<ProcessCounts> CountProcess() {
  PROCESS_MEMORY_COUNTERS memory{};
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory))) return std::nullopt;
  const std::optional<std::int64_t> handles = CountHandles();
  const std::optional<std::int64_t> threads = CountThreads();
  if (!handles || !threads) return std::nullopt;
  return ProcessCounts{*handles, *threads, static_cast<std::int64_t>(memory.PagefileUsage / 1024)};
}

std::vector<std::string> DescribeHandles() {
  std::vector<std::string> described;
  if (const auto handles = OwnHandles()) {
    for (const HandleEntry& entry : *handles) {
      described.push_back(std::to_string(entry.value) + " " + TypeName(entry.value) + " access " +
                          std::to_string(entry.granted_access));
    }
  }
  return described;
}

struct OpenHandles::Held {
  std::vector<velqa::base::UniqueHandle> events;
};

OpenHandles::OpenHandles(int handles) : held_(std::make_unique<Held>()) {
  for (int i = 0; i < handles; ++i) {
    held_->events.emplace_back(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  }
}

OpenHandles::~OpenHandles() = default;

int ProcessesRunning(const std::filesystem::path& executable) {
  velqa::base::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return -1;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  const std::wstring name = executable.filename().wstring();
  int running = 0;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (name == entry.szExeFile) ++running;
  }
  return running;
}

}  // namespace velqa_bench
