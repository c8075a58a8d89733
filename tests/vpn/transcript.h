// A transcript of the log records and console lines a piece of code wrote to
// standard output, for the VPN manager's tests.
//
// Threads: the test thread; `action` runs on it.
#ifndef VELQA_TESTS_VPN_TRANSCRIPT_H_
#define VELQA_TESTS_VPN_TRANSCRIPT_H_

#include <functional>
#include <string>
#include <vector>

namespace vpn_test {

// Log records ("R: message", tag VpnManager only) and console lines
// ("C: text") that `action` wrote to standard output, in order.
std::vector<std::string> Transcript(const std::function<void()>& action);
// Only the log records ("R: ..." entries) of a transcript.
std::vector<std::string> Records(const std::vector<std::string>& transcript);

}  // namespace vpn_test

#endif  // VELQA_TESTS_VPN_TRANSCRIPT_H_
