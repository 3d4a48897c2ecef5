#include "app/CTextEntryDlg.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/DialogBuilder.h"
#include "app/IUserPrompts.h"
#include "platform/text/CodePage.h"
#include "res/DialogTemplate.h"
#include "res/ResourceIds.h"

namespace app {

CTextEntryDlg::CTextEntryDlg(IUserPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_prompts(prompts) {
    const res::DialogTemplate& dialog = res::TextEntryDialogTemplate();
    setFixedSize(res::DialogUnitsToPixels(dialog.width), res::DialogUnitsToPixels(dialog.height));
    const std::map<int, QWidget*> controls = BuildControls(this, dialog);
    m_promptLabel = qobject_cast<QLabel*>(controls.at(res::IDC_ENTRY_PROMPT));
    m_edit = qobject_cast<QLineEdit*>(controls.at(res::IDC_ENTRY_TEXT));
    auto* ok = qobject_cast<QPushButton*>(controls.at(1));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CTextEntryDlg::accept);
}

int CTextEntryDlg::Ask(const QString& prompt) {
    m_strPrompt = prompt;
    OnActivate();
    m_edit->setText(m_strText);
    m_edit->setFocus();
    return exec();
}

void CTextEntryDlg::accept() {
    const QString text = m_edit->text();
    const std::string bytes = platform::text::Utf8ToGbk(text.toStdString());
    if (int(bytes.size()) >= kMaxTextBytes) {
        m_prompts.ShowMessage("String too long", {}, PromptIcon::None);
        m_edit->setFocus();
        m_edit->selectAll();
        return;
    }
    m_strText = text;
    QDialog::accept();
}

void CTextEntryDlg::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    if (e->type() == QEvent::ActivationChange)
        OnActivate();
}

void CTextEntryDlg::OnActivate() {
    setWindowTitle(m_strPrompt);
    m_promptLabel->setText(m_strPrompt);
}

}  // namespace app
