#include "app/MessageBoxPrompts.h"

#include <QMessageBox>

#include "app/CMainDlg.h"
#include "res/Strings.h"

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
    const std::string_view shown = caption.empty() ? res::kAppName : caption;
    QMessageBox box(qtIcon, FromUtf8(shown), FromUtf8(text), QMessageBox::Ok,
                    owner_ != nullptr ? owner_ : CMainDlg::Instance());
    // Box texts carry port names and other text from outside: never markup.
    box.setTextFormat(Qt::PlainText);
    if (!details.empty())
        box.setDetailedText(FromUtf8(details));
    box.exec();
}

}  // namespace app
