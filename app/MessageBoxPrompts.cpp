#include "app/MessageBoxPrompts.h"

#include "app/CMainDlg.h"

#include <QApplication>
#include <QMessageBox>

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
    const QString title = caption.empty()
                              ? QApplication::applicationDisplayName()
                              : QString::fromUtf8(caption.data(), qsizetype(caption.size()));
    QMessageBox box(qtIcon, title, QString::fromUtf8(text.data(), qsizetype(text.size())),
                    QMessageBox::Ok, owner_ != nullptr ? owner_ : CMainDlg::Instance());
    box.exec();
}

}  // namespace app
