#include "app/MessageBoxPrompts.h"

#include <QApplication>
#include <QMessageBox>

namespace app {

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

void MessageBoxPrompts::ShowMessage(std::string_view text, std::string_view caption,
                                    PromptIcon icon) {
    ShowDetailedMessage(text, {}, caption, icon);
}

void MessageBoxPrompts::ShowDetailedMessage(std::string_view text, std::string_view details,
                                            std::string_view caption, PromptIcon icon) {
    QMessageBox::Icon qtIcon = QMessageBox::NoIcon;
    switch (icon) {
        case PromptIcon::None:
            break;
        case PromptIcon::Information:
            qtIcon = QMessageBox::Information;
            break;
        case PromptIcon::Warning:
            qtIcon = QMessageBox::Warning;
            break;
        case PromptIcon::Error:
            qtIcon = QMessageBox::Critical;
            break;
    }
    const QString title =
        caption.empty() ? QApplication::applicationDisplayName() : FromUtf8(caption);
    QMessageBox box(qtIcon, title, FromUtf8(text), QMessageBox::Ok, owner_);
    if (!details.empty())
        box.setDetailedText(FromUtf8(details));
    box.exec();
}

}  // namespace app
