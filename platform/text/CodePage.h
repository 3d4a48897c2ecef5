#pragma once

#include <string>
#include <string_view>

namespace platform::text {

// The code page of song-file texts: GBK (code page 936), a double-byte character in two bytes.

// UTF-8 to GBK. A character GBK cannot hold becomes '?'; invalid UTF-8 bytes too.
std::string Utf8ToGbk(std::string_view utf8);
// GBK to UTF-8. A byte sequence that is not GBK becomes U+FFFD.
std::string GbkToUtf8(std::string_view gbk);

}  // namespace platform::text
