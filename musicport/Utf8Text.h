#pragma once

// Bounded text copies for the layer's fixed-size text fields.

#include <span>
#include <string_view>

namespace musicport {

// Copies as much of `text` as fits into `target` with a terminating NUL, cutting before a
// UTF-8 continuation byte so that no character is split. An empty target is left alone.
void CopyCut(std::span<char> target, std::string_view text);

// Converts NUL-terminated (or full-length) UTF-16 into UTF-8 in `target`, cut like CopyCut.
// Unpaired surrogates become U+FFFD.
void Utf16ToUtf8(std::span<char> target, std::u16string_view text);

}  // namespace musicport
