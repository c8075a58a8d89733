#include <windows.h>

#include "logging/link_status.h"

namespace velqa::logging {

bool IsLink(const std::filesystem::path& path) {
  // Attributes of the entry itself: GetFileAttributesW does not follow it.
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace velqa::logging
