#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;

namespace app {

class IUserPrompts;

// The author and title entry (template 162): a prompt shown in the caption and above a one-line
// edit, and OK. A text of 50 bytes or more in the song file's code page is refused with
// "String too long" and the dialog stays open. GUI thread.
class CTextEntryDlg : public QDialog {
    Q_OBJECT

public:
    explicit CTextEntryDlg(IUserPrompts& prompts, QWidget* parent = nullptr);

    // Sets the prompt and runs the dialog modally; returns its result. The entered text is
    // then in Text(): empty unless OK took it.
    int Ask(const QString& prompt);

    const QString& Text() const { return m_strText; }
    void SetText(const QString& text) { m_strText = text; }
    QLineEdit* Edit() const { return m_edit; }

    // Longest text the song file holds, in bytes of its code page, plus one.
    static constexpr int kMaxTextBytes = 50;

public slots:
    void accept() override;

protected:
    void changeEvent(QEvent* e) override;

private:
    // The caption and the static above the edit show the prompt, activated or not.
    void OnActivate();

    IUserPrompts& m_prompts;
    QString m_strText;
    QString m_strPrompt;
    QLabel* m_promptLabel = nullptr;
    QLineEdit* m_edit = nullptr;
};

}  // namespace app
