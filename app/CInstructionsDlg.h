#pragma once

#include <QDialog>

namespace app {

// The instructions dialog (template 165): two lines of text and "关闭", which ends it.
class CInstructionsDlg : public QDialog {
    Q_OBJECT

public:
    explicit CInstructionsDlg(QWidget* parent = nullptr);
};

}  // namespace app
