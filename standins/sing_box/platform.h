// The few operating-system services the stand-in sing-box needs; one
// implementation per platform (platform_posix.cpp, platform_win.cpp).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace standin {

// Set in the environment of a copy started for "spawn_child", so that the copy
// runs the same configuration without starting a copy of its own.
inline constexpr char kNoSpawnVariable[] = "VELQA_STANDIN_NO_SPAWN";
// Set in the environment of a copy started for "escape_child_ms": the copy
// only lingers that many milliseconds, writing when the second one is set.
inline constexpr char kLingerVariable[] = "VELQA_STANDIN_LINGER_MS";
inline constexpr char kLingerWritesVariable[] = "VELQA_STANDIN_LINGER_WRITES";

enum class Stream { kOut, kErr };

// The arguments after the program name, as UTF-8 text.
std::vector<std::string> Arguments(int argc, char** argv);

// Reads the whole file at a UTF-8 path; on failure false and the reason.
bool ReadWholeFile(const std::string& path, std::string* contents, std::string* reason);

// Creates (or replaces) the file at a UTF-8 path with `contents`.
bool WriteTextFile(const std::string& path, const std::string& contents, std::string* reason);

// What this process holds of files, pipes and devices, one line each:
// "<number> <kind> <detail>". Kind "standard" is one of the standard streams;
// on Windows "directory" is a directory handle (the current directory) and
// "console" a character device (the console the system makes for a process
// started without a window); everything else is "other" (Linux: any
// descriptor above 2). Windows has no list of a process's handles, so there
// every handle value in the range a process uses is tried.
std::vector<std::string> HeldHandles();

// Writes every byte; false once the reader has gone (the stand-in then keeps
// running silently, as a daemon whose log reader vanished would).
bool WriteAll(Stream stream, const char* data, size_t size);

// Starts one more copy of this executable with "run -c CONFIG", inheriting the
// standard handles and marked with kNoSpawnVariable. Returns its process id,
// or 0 with the reason.
unsigned long SpawnCopy(const std::string& config_path, std::string* reason);

// What a copy started by SpawnEscapingCopy does: hold the standard handles
// for `ms` milliseconds (none: not such a copy), writing all the while when
// `writes` is set.
struct Linger {
  long ms = 0;
  bool writes = false;
};

// Starts one more copy that leaves the job or process group it was started
// in (Linux: a session of its own; Windows: a breakaway from the job where
// the job allows it), keeps the standard handles open as `linger` says, and
// then ends by itself. Returns its process id, or 0 with the reason.
unsigned long SpawnEscapingCopy(const std::string& config_path, Linger linger, std::string* reason);

// For a copy started by SpawnEscapingCopy: what it is to do.
Linger LingerRequested();

bool NoSpawnRequested();
unsigned long OwnProcessId();
void SleepMilliseconds(long ms);
[[noreturn]] void RunUntilEnded();
[[noreturn]] void ExitWith(int code);

}  // namespace standin
