// The script that plays the Dart side of the application in the stand-in
// engine. One command per line (UTF-8; blank lines and lines starting with #
// are skipped):
//   call METHOD [JSON]   a method call on the VPN channel, null arguments
//                        without JSON; the next line waits for its reply
//   raw METHOD HEX       these exact bytes on the VPN channel; METHOD only
//                        labels the reply; waits for the reply like call
//   listen CHANNEL       starts listening on the event channel CHANNEL (its
//   cancel CHANNEL       "listen" call) or stops ("cancel"); waits for the
//                        reply like call
//   sleep MS             waits MS milliseconds
//   exit                 the tray menu's exit command to the top-level window
//   close                a close request to the top-level window
//   crash KIND [worker]  crashes the host process, on the platform thread or
//                        on a new thread: KIND is access-violation,
//                        stack-overflow, illegal-instruction, terminate, or
//                        one that faults holding a lock every thread of the
//                        process may need: heap-locked (an access violation
//                        while the crashing thread holds the lock of the
//                        process heap and of the C runtime's heap, HeapLock),
//                        stdout-locked (an access violation while it holds
//                        the C runtime's lock of stdout, _lock_file)
#ifndef VELQA_STANDINS_FLUTTER_WINDOWS_DART_SCRIPT_H_
#define VELQA_STANDINS_FLUTTER_WINDOWS_DART_SCRIPT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velqa::standin {

// The ways the scripted Dart side can crash the host process.
enum class CrashKind {
  kAccessViolation,
  kStackOverflow,
  kIllegalInstruction,
  kTerminate,
  kHeapLocked,
  kStdoutLocked
};

struct ScriptStep {
  enum class Kind { kSend, kSleep, kExit, kClose, kCrash };
  Kind kind;
  std::string method;                             // kSend: the label of the reply line
  std::string channel;                            // kSend: empty for the VPN channel
  std::vector<uint8_t> message;                   // kSend: the bytes sent
  uint32_t milliseconds = 0;                      // kSleep
  CrashKind crash = CrashKind::kAccessViolation;  // kCrash
  bool on_worker = false;                         // kCrash: on a thread of its own
  int line = 0;                                   // 1-based, for diagnostics
};

// What the scripted Dart side takes from its entry-point arguments. Each
// option is "--name VALUE" or "--name=VALUE"; other arguments are ignored.
// Relative file names count from the current directory.
//   --dart-script FILE     the script, run after the first frame
//   --dart-replies FILE    appends "METHOD<TAB>HEX<TAB>READABLE" per answer
//   --dart-events FILE     appends one line per engine event: "engine created",
//                          "engine running WxH", "registrar NAME HANDLE"
//                          (see registrar_text.h), "frame N",
//                          "next-frame callback", "fonts reloaded",
//                          "consumed MSG", "window activated", "window
//                          deactivated" (the top-level window's WM_ACTIVATE),
//                          "script started", "script
//                          rejected: ...", "exit sent", "close sent",
//                          "crash line N [worker]", "script done",
//                          "engine destroyed"
//   --dart-streams FILE    appends one line per message on an event channel,
//                          in the order they reach the Dart side:
//                          "CHANNEL<TAB>KIND<TAB>HEX<TAB>READABLE", KIND being
//                          "listen" or "cancel" for the answer to that call
//                          and "event" for a message the host sent (sent while
//                          nobody listens too); a message the host sends off
//                          the platform thread also adds "fault: host message
//                          off the platform thread on CHANNEL" to --dart-events
//   --dart-args-out FILE   writes every entry-point argument as the hex of its
//                          UTF-8 bytes, one per line, when the engine starts
//   --dart-consume LIST    window message numbers (decimal, comma-separated)
//                          the view claims from the top-level window, as a
//                          real view does for some input messages
//   --dart-shutdown-ms MS  the engine takes MS milliseconds to be destroyed,
//                          as a real engine ending its Dart isolate does
struct DartOptions {
  std::string script;
  std::string replies;
  std::string events;
  std::string streams;
  std::string args_out;
  std::string consume;
  std::string shutdown_ms;
  // `consume` as numbers; malformed entries are skipped.
  std::vector<unsigned> ConsumedMessages() const;
  // `shutdown_ms` as a number; 0 when absent or malformed.
  unsigned ShutdownMilliseconds() const;
};
DartOptions ParseDartOptions(const std::vector<std::string>& arguments);

// Nullopt when a line is malformed; `error` then names the line and the fault.
std::optional<std::vector<ScriptStep>> ParseDartScript(std::string_view text, std::string* error);

// The bytes of a method call with standard codec framing; `arguments_json`
// empty means null arguments. Nullopt (with `error`) for malformed JSON.
std::optional<std::vector<uint8_t>> EncodeScriptCall(const std::string& method,
                                                     std::string_view arguments_json,
                                                     std::string* error);

}  // namespace velqa::standin

#endif  // VELQA_STANDINS_FLUTTER_WINDOWS_DART_SCRIPT_H_
