#include "app/MessageBoxPrompts.h"

#include <QMessageBox>

#include "app/CMainDlg.h"
#include "res/Strings.h"

namespace app {

void MessageBoxPrompts::ShowMessage(std::string_view text, std::string_view caption,
                                    PromptIcon icon) {
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
    const QString title = QString::fromUtf8(shown.data(), qsizetype(shown.size()));
    QMessageBox box(qtIcon, title, QString::fromUtf8(text.data(), qsizetype(text.size())),
                    QMessageBox::Ok, owner_ != nullptr ? owner_ : CMainDlg::Instance());
    box.exec();
}

}  // namespace app
