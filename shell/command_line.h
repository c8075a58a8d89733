// The process's command line as UTF-8 text for the Dart entry function.
//
// Threads: any; the functions keep no state.
#ifndef VELQA_SHELL_COMMAND_LINE_H_
#define VELQA_SHELL_COMMAND_LINE_H_

#include <string>
#include <vector>

// The arguments after the program name, split the way Windows programs split
// their command line, each converted to UTF-8 and kept in its position. An
// argument that is not valid UTF-16 (an unpaired surrogate) becomes "": the
// Dart side gets either the exact text or nothing, never replacement
// characters.
std::vector<std::string> CollectCommandLineArguments();

// The same for a given command line (its first word is the program name).
std::vector<std::string> CollectCommandLineArguments(const wchar_t* command_line);

#endif  // VELQA_SHELL_COMMAND_LINE_H_
