#include "web/OpenErrorText.h"

#include <array>
#include <string_view>

namespace web {

namespace {

struct CodeText {
    int code;
    std::string_view text;
};

constexpr std::array kTexts{
    CodeText{0, "The operating system is out\nof memory or resources."},
    CodeText{2, "The specified file was not found."},
    CodeText{3, "The specified path was not found."},
    CodeText{5, "The operating system denied\naccess to the specified file."},
    CodeText{8, "There was not enough memory to complete the operation."},
    CodeText{11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
    CodeText{26, "A sharing violation occurred. "},
    CodeText{27, "The filename association is\nincomplete or invalid."},
    CodeText{28, "The DDE transaction could not\nbe completed because the request timed out."},
    CodeText{29, "The DDE transaction failed."},
    CodeText{30,
             "The DDE transaction could not\nbe completed because other DDE transactions\nwere "
             "being processed."},
    CodeText{31, "There is no application associated\nwith the given filename extension."},
    CodeText{32, "The specified dynamic-link library was not found."},
};

}  // namespace

std::string OpenErrorText(int code) {
    std::string text = "Unable to open hyperlink:\n\n";
    for (const CodeText& entry : kTexts) {
        if (entry.code == code)
            return text.append(entry.text);
    }
    return text + "Unknown Error (" + std::to_string(code) + ") occurred.";
}

}  // namespace web
