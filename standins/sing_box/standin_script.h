// The stand-in's script: the optional "standin" object of the configuration
// file, read into plain fields.
//   "stdout", "stderr"   text written once at start, in that order
//   "burst_bytes"        that many bytes of line-structured output at start
//   "report_handles"     a file that receives, before anything else happens,
//                        what the process holds of files, pipes and devices
//                        (one line each, see HeldHandles)
//   "done_file"          a file created once the above is written (tells a
//                        test that the reader has taken everything)
//   "spawn_child"        true: start one more copy (same configuration, this
//                        key ignored) that keeps running
//   "escape_child_ms"    start one more copy that leaves the job (Linux: its
//                        own session), holds the output open and ends after
//                        that many milliseconds
//   "escape_child_writes" true: that copy writes lines without pause from
//                        300 ms after its start
//   "exit_after_ms",
//   "exit_code"          exit by itself (either key; defaults 0); otherwise
//                        run until ended
//   "last_words"         text written just before exiting by itself
//   "silent"             accepted for readability; an object without output
//                        keys writes nothing anyway
// A key of another type than the one named counts as present, with an empty
// text, zero or false.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace standin {

struct StandinScript {
  std::optional<std::string> report_handles;
  std::optional<std::string> stdout_text;
  std::optional<std::string> stderr_text;
  double burst_bytes = 0;
  std::optional<std::string> done_file;
  bool spawn_child = false;
  double escape_child_ms = 0;
  bool escape_child_writes = false;
  std::optional<double> exit_after_ms;
  std::optional<double> exit_code;
  std::optional<std::string> last_words;
};

// Reads a configuration file's text. False, with "invalid JSON ..." as the
// reason, when it is not JSON; otherwise *script is the "standin" object, or
// nullopt when there is none (or it is not an object).
bool ReadStandinScript(std::string_view config_text, std::optional<StandinScript>* script,
                       std::string* reason);

}  // namespace standin
