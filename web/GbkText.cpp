#include "web/GbkText.h"

#include <iconv.h>

#include <cerrno>

namespace web {

std::string GbkToUtf8(std::string_view bytes) {
    const iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == iconv_t(-1))
        return {};
    std::string out;
    // Every GBK character is at most 2 bytes and becomes at most 3 UTF-8 bytes.
    std::string buffer(bytes.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* target = buffer.data();
        std::size_t targetLeft = buffer.size();
        const std::size_t done = iconv(cd, &in, &inLeft, &target, &targetLeft);
        out.append(buffer.data(), buffer.size() - targetLeft);
        if (done != std::size_t(-1))
            break;
        if (errno == EILSEQ) {
            ++in;  // not GBK: skip this byte and go on with the next
            --inLeft;
        } else if (errno == EINVAL) {
            break;  // the last character is incomplete
        } else if (errno != E2BIG) {
            break;
        }
    }
    iconv_close(cd);
    return out;
}

}  // namespace web
