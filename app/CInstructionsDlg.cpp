#include "app/CInstructionsDlg.h"

#include <QPushButton>

#include "app/DialogBuilder.h"
#include "res/DialogTemplate.h"

namespace app {

CInstructionsDlg::CInstructionsDlg(QWidget* parent) : QDialog(parent) {
    const res::DialogTemplate& dialog = res::InstructionsDialogTemplate();
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(dialog.title.data(), qsizetype(dialog.title.size())));
    setFixedSize(res::DialogUnitsToPixels(dialog.width), res::DialogUnitsToPixels(dialog.height));
    const std::map<int, QWidget*> controls = BuildControls(this, dialog);
    // Control 1 is the OK button: the default button, and it ends the dialog.
    if (auto* ok = qobject_cast<QPushButton*>(controls.at(1))) {
        ok->setDefault(true);
        ok->setAutoDefault(true);
        ok->setFocus();
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    }
}

}  // namespace app
