#pragma once

#include <string_view>

#include "platform/music/Types.h"

namespace platform::music {

// Symbolic name and description of a result code, as error reports show them.
struct ResultText {
    std::string_view name;
    std::string_view description;
};

// Looks up a result code; codes the table lacks give "Unknown" and "n/a".
ResultText DescribeResult(HRESULT code);

}  // namespace platform::music
