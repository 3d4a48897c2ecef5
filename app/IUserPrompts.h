#pragma once

#include <string_view>

namespace app {

enum class PromptIcon { None, Information, Warning, Error };

// Modal message boxes with a single OK button. The dialog shows every box through this seam
// so that tests can run its failure paths without a modal loop.
class IUserPrompts {
public:
    virtual ~IUserPrompts() = default;
    // An empty caption means the application's own name.
    virtual void ShowMessage(std::string_view text, std::string_view caption, PromptIcon icon) = 0;
};

}  // namespace app
