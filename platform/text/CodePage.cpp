#include "platform/text/CodePage.h"

#include <iconv.h>

#include <cerrno>

namespace platform::text {
namespace {

// Converts with iconv, replacing what cannot be converted by `replacement` and skipping one
// input byte (or the whole unconvertible character, when iconv recognised it).
std::string Convert(std::string_view input, const char* to, const char* from,
                    std::string_view replacement) {
    const iconv_t cd = ::iconv_open(to, from);
    if (cd == iconv_t(-1))
        return std::string(input);
    std::string out;
    out.reserve(input.size() * 2);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char buffer[256];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, std::size_t(outPtr - buffer));
        if (rc != std::size_t(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ: an invalid or unconvertible sequence; EINVAL: one cut off at the end.
        out.append(replacement);
        if (errno == EILSEQ && (unsigned char)(*in) >= 0x80 && inLeft >= 2 &&
            std::string_view(from) == "UTF-8") {
            // Skip the whole UTF-8 character, not just its lead byte.
            std::size_t length = 1;
            while (length < inLeft && (((unsigned char)in[length]) & 0xC0) == 0x80)
                ++length;
            in += length;
            inLeft -= length;
        } else {
            ++in;
            --inLeft;
        }
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    ::iconv_close(cd);
    return out;
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) {
    return Convert(utf8, "GBK", "UTF-8", "?");
}

std::string GbkToUtf8(std::string_view gbk) {
    return Convert(gbk, "UTF-8", "GBK", "\xEF\xBF\xBD");
}

}  // namespace platform::text
