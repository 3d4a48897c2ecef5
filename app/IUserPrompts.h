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
    // The same box with `details` shown on request beneath the text: the cause of a failure in
    // words. Prompts that have no place for details show the text alone.
    virtual void ShowDetailedMessage(std::string_view text, std::string_view details,
                                     std::string_view caption, PromptIcon icon) {
        static_cast<void>(details);
        ShowMessage(text, caption, icon);
    }
};

}  // namespace app
