// Whether a directory entry is a link of any kind, judged without following
// it: the logger never writes, renames or deletes through one.
//
// Threads: any.
#ifndef VELQA_LOGGING_LINK_STATUS_H_
#define VELQA_LOGGING_LINK_STATUS_H_

#include <filesystem>

namespace velqa::logging {

// True for a symbolic link (also a dangling one) and, on Windows, for a
// junction or any other reparse point; false for anything else and for a
// path that does not exist.
bool IsLink(const std::filesystem::path& path);

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_LINK_STATUS_H_
