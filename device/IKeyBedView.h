#pragma once

#include <string_view>

namespace device {

// What the key-bed state shows through the main dialog. GUI thread.
class IKeyBedView {
public:
    virtual ~IKeyBedView() = default;

    virtual void SetWindowTitle(std::string_view title) = 0;
    // A modal box with the error icon and an OK button.
    virtual void ShowErrorBox(std::string_view text, std::string_view caption) = 0;
};

}  // namespace device
