#include "musicport/CDMusicException.h"

#include <cstdio>
#include <string>

#include "musicport/Utf8Text.h"
#include "platform/music/ErrorText.h"

namespace musicport {

CDMusicException::CDMusicException(std::string_view memberFunction, HRESULT code,
                                   std::source_location where)
    : CDMusicException(memberFunction, code, static_cast<int>(where.line())) {}

CDMusicException::CDMusicException(std::string_view memberFunction, HRESULT code, int line)
    : m_hrCode(code), m_nLine(line) {
    CopyCut(m_szMemberFunction, memberFunction);
    Compose();
}

// Both texts depend only on the fields fixed at construction, so they are composed once
// here; the accessors stay const and the exception can be caught by const reference.
void CDMusicException::Compose() {
    std::string error;
    if (m_hrCode == -1) {
        error =
            "DM_FAILED:: There has been an error during the \nobject initialization "
            "sequence.\nThere is an internal member variable,\nsuch as an interface "
            "pointer, that it is not assigned";
    } else {
        const auto text = platform::music::DescribeResult(m_hrCode);
        error.append(text.name).append(": ").append(text.description);
    }
    CopyCut(m_szErrorText, error);

    char code[16];
    std::snprintf(code, sizeof code, "%.8x", static_cast<unsigned>(m_hrCode));
    std::string report = "Error code: 0x";
    report.append(code)
        .append(" \n")
        .append(m_szErrorText.data())
        .append("\nMember function: ")
        .append(m_szMemberFunction.data())
        .append(" \nLine: ")
        .append(std::to_string(m_nLine));
    CopyCut(m_szReport, report);
}

}  // namespace musicport
