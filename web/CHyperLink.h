#pragma once

#include <QCursor>
#include <QLabel>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform::shell {
class IShell;
class OpenRequest;
}  // namespace platform::shell

namespace web {

// A picture or text label that opens an address when clicked: a hand cursor over it, a
// tooltip (the address unless a tip is set), hover with the mouse captured from the first
// move over it to the first move outside, and a visited flag set by a successful open.
// GUI thread only; the open itself runs on the shell's thread and never blocks.
class CHyperLink : public QLabel {
    Q_OBJECT

public:
    // `style` carries the static-control bits that FitToClient reads (FitToClient.h).
    explicit CHyperLink(QWidget* parent = nullptr, int style = 0);
    ~CHyperLink() override;

    void SetUrl(const std::string& url);
    const std::string& GetUrl() const { return m_strUrl; }
    void SetTip(const std::string& tip);
    const std::string& GetTip() const { return m_strTip; }
    void SetVisited(bool visited);
    bool GetVisited() const { return m_bVisited; }
    // No cursor means the pointing hand.
    void SetLinkCursor(std::optional<QCursor> cursor);
    const std::optional<QCursor>& GetLinkCursor() const { return m_hHandCursor; }
    void SetFitToClient(bool fit);
    bool GetFitToClient() const { return m_bFitToClient; }
    bool IsHovering() const { return m_bHover; }

    // Where addresses are opened; without a shell every open fails as unassociated.
    void SetShell(platform::shell::IShell* shell) { m_shell = shell; }
    // Shows the error of a failed open; a message box of the window by default.
    void SetErrorBox(std::function<void(const std::string& text)> show);

    // Moves and sizes the window to its client area (FitRect) when fitting is on.
    void FitToClient();

signals:
    // An open finished with the shell's result code.
    void Opened(int code);

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;

private:
    void OnClicked();
    void OnOpened(int code);
    void ShowOpenError(int code);
    void UpdateTip();

    bool m_bHover = false;
    bool m_bVisited = false;
    bool m_bFitToClient = true;
    std::string m_strUrl;
    std::string m_strTip;
    std::optional<QCursor> m_hHandCursor;
    int m_style;
    platform::shell::IShell* m_shell = nullptr;
    std::function<void(const std::string&)> m_showError;
    std::shared_ptr<platform::shell::OpenRequest> m_request;
};

}  // namespace web
