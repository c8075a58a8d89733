// UTF-8 <-> UTF-16 for the wide Win32 calls. Invalid input is replaced
// rather than rejected: the text is for calls and messages, not for storage.
#ifndef VELQA_VPN_OS_WIDE_TEXT_WIN_H_
#define VELQA_VPN_OS_WIDE_TEXT_WIN_H_

#include <string>
#include <string_view>

namespace vpn_os {

std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_WIDE_TEXT_WIN_H_
