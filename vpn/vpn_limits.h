// The waits, sizes and rates that bound what the VPN manager does with the
// sing-box child: how long it waits for the child, how much of its output it
// reads and logs. Each is defined here only, so a change reaches every use.
//
// Threads: constants only; any thread.
#ifndef VELQA_VPN_VPN_LIMITS_H_
#define VELQA_VPN_VPN_LIMITS_H_

#include <chrono>
#include <cstddef>

namespace velqa::vpn {

// --- Ending the own child ---
// How long a terminated child is waited for before its handles are closed
// (stop_vpn, a second start_vpn, an abandoned start, the manager's end).
inline constexpr std::chrono::milliseconds kChildExitWait{3000};

// --- Starting it ---
// A child that is still running after this long counts as started.
inline constexpr std::chrono::milliseconds kStabilityWait{1000};
// A child that ended within the stability wait: its output is read for at
// most this long and this much. The child itself cannot leave more than its
// pipe holds (it would still be blocked in a write, so not ended); more can
// only come from a process it left behind.
inline constexpr std::chrono::milliseconds kEarlyExitOutputWait{2000};
inline constexpr std::size_t kEarlyExitOutputLimit = std::size_t{4} << 20;
// The early-exit path reads at most this much per call, as text.
inline constexpr std::size_t kEarlyExitChunk = 1023;

// --- The output monitor ---
// One read fills at most this much of a buffer one byte larger, so a
// terminating zero always fits.
inline constexpr std::size_t kMonitorReadSize = 4095;
// How often an idle monitor looks whether the child has ended.
inline constexpr std::chrono::milliseconds kMonitorIdlePoll{100};
// Until then, how often the monitor looks whether the child has ended while
// the pipe is still held (by a process the child started): the "exited"
// event follows an end within this, plus the window's turn.
inline constexpr std::chrono::milliseconds kMonitorExitPoll{100};
// Once the child has ended, at most this much of what waits in the pipe is
// read before "exited" is told: the pipe's buffer, all the child itself can
// have left there.
inline constexpr std::size_t kMonitorDrainAtChildEnd = 64 * 1024;

// --- Logging the child's output ---
// A child that floods its output gets its first lines logged, then about
// this many per second; the rest is counted and reported.
inline constexpr double kLoggedLinesPerSecond = 200;
inline constexpr double kLoggedLinesBurst = 2000;
// While a flood is only counted, the clock is read once per this many chunks.
inline constexpr int kFloodChunksPerClockReading = 16;
// A line longer than this is logged in pieces of this size.
inline constexpr std::size_t kMaxOutputLine = 64 * 1024;

}  // namespace velqa::vpn

#endif  // VELQA_VPN_VPN_LIMITS_H_
