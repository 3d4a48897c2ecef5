#pragma once

#include "app/IUserPrompts.h"

class QWidget;

namespace app {

// Real message boxes, owned by the given window, else by the main dialog.
class MessageBoxPrompts final : public IUserPrompts {
public:
    explicit MessageBoxPrompts(QWidget* owner = nullptr) : owner_(owner) {}
    void SetOwner(QWidget* owner) { owner_ = owner; }
    void ShowMessage(std::string_view text, std::string_view caption, PromptIcon icon) override;
    void ShowDetailedMessage(std::string_view text, std::string_view details,
                             std::string_view caption, PromptIcon icon) override;

private:
    QWidget* owner_;
};

}  // namespace app
