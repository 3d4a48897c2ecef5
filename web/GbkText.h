#pragma once

#include <string>
#include <string_view>

namespace web {

// GBK (code page 936) bytes as UTF-8. Bytes that are not GBK are left out one by one, so
// the characters after them come through intact; a character cut off at the end is dropped.
std::string GbkToUtf8(std::string_view bytes);

}  // namespace web
