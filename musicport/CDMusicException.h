#pragma once

#include <array>
#include <exception>
#include <source_location>
#include <string_view>

#include "musicport/MidiMsg.h"

namespace musicport {

// The one exception of the music-port layer, thrown by value. The code is the failing
// platform call's result, or -1 when a precondition failed (missing interface, null
// argument, state that forbids the call). Texts are cut to their fields' sizes on a UTF-8
// character boundary.
class CDMusicException : public std::exception {
public:
    // The line is taken from the throw site: `throw CDMusicException("X::Y()", hr);`.
    CDMusicException(std::string_view memberFunction, HRESULT code,
                     std::source_location where = std::source_location::current());
    CDMusicException(std::string_view memberFunction, HRESULT code, int line);

    // "<name>: <description>" of the code; the -1 text starts "DM_FAILED::".
    const char* GetErrorText() const { return m_szErrorText.data(); }
    // "Error code: 0x%.8x \n<error text>\nMember function: <label> \nLine: <line>".
    const char* GetReport() const { return m_szReport.data(); }
    const char* what() const noexcept override { return m_szReport.data(); }

    HRESULT GetCode() const { return m_hrCode; }
    const char* GetMemberFunction() const { return m_szMemberFunction.data(); }
    int GetLine() const { return m_nLine; }

private:
    void Compose();

    std::array<char, 512> m_szReport{};
    std::array<char, 256> m_szErrorText{};
    HRESULT m_hrCode;
    std::array<char, 128> m_szMemberFunction{};
    int m_nLine;
};

}  // namespace musicport
