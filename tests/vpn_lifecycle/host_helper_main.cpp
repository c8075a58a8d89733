// A host in miniature for the hard-kill test: starts sing-box through a
// VpnManager with the configuration named on the command line, says so, and
// waits to be killed. Nothing of it runs after the kill: no destructor, no
// stop; only what the system does for a dead process is left.
#include <chrono>
#include <cstdio>
#include <thread>

#include "tests/support/vpn_answer.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  static VpnManager manager;  // never destroyed: the process is killed
  vpn_test::Answer reply = vpn_test::StartVpn(manager, argv[1]);
  std::printf("HELPER %s\n", reply.kind == vpn_test::Answer::Kind::kSuccess ? "READY" : "FAILED");
  std::fflush(stdout);
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
