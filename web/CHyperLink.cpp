#include "web/CHyperLink.h"

#include <QApplication>
#include <QMessageBox>
#include <QMouseEvent>

#include "platform/shell/IShell.h"
#include "platform/shell/ShellCodes.h"
#include "res/Strings.h"
#include "web/FitToClient.h"
#include "web/OpenErrorText.h"

namespace web {

namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

CHyperLink::CHyperLink(QWidget* parent, int style) : QLabel(parent), m_style(style | kStyleNotify) {
    setMouseTracking(true);
    SetLinkCursor(std::nullopt);
    UpdateTip();
}

CHyperLink::~CHyperLink() {
    // No completion may post to this object once it is gone.
    if (m_request)
        m_request->Cancel();
}

void CHyperLink::SetErrorBox(std::function<void(const std::string&)> show) {
    m_showError = std::move(show);
}

void CHyperLink::SetUrl(const std::string& url) {
    m_strUrl = url;
    FitToClient();
    if (m_strTip.empty())
        m_strTip = url;
    UpdateTip();
}

void CHyperLink::SetTip(const std::string& tip) {
    m_strTip = tip;
    FitToClient();
    UpdateTip();
}

void CHyperLink::UpdateTip() {
    setToolTip(FromUtf8(m_strTip.empty() ? m_strUrl : m_strTip));
}

void CHyperLink::SetVisited(bool visited) {
    m_bVisited = visited;
    update();
}

void CHyperLink::SetLinkCursor(std::optional<QCursor> cursor) {
    m_hHandCursor = cursor ? std::move(cursor) : std::optional<QCursor>(Qt::PointingHandCursor);
    setCursor(*m_hHandCursor);
}

void CHyperLink::SetFitToClient(bool fit) {
    m_bFitToClient = fit;
    FitToClient();
}

void CHyperLink::FitToClient() {
    if (!m_bFitToClient)
        return;
    const QRect window = geometry();
    const QRect client = contentsRect();
    const LinkRect fitted = FitRect({window.left(), window.top(), window.left() + window.width(),
                                     window.top() + window.height()},
                                    client.width(), client.height(), m_style);
    setGeometry(fitted.left, fitted.top, fitted.right - fitted.left, fitted.bottom - fitted.top);
}

void CHyperLink::mouseMoveEvent(QMouseEvent* e) {
    QLabel::mouseMoveEvent(e);
    if (m_bHover) {
        if (!rect().contains(e->position().toPoint())) {
            m_bHover = false;
            releaseMouse();
            repaint();
        }
    } else {
        m_bHover = true;
        repaint();
        grabMouse();
    }
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* e) {
    QLabel::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
        OnClicked();
}

void CHyperLink::OnClicked() {
    if (m_shell == nullptr) {
        OnOpened(platform::shell::kNoAssociation);
        return;
    }
    if (m_request)
        m_request->Cancel();
    // The completion runs on the shell's thread: it only posts the result here.
    m_request = m_shell->Open(m_strUrl, [this](int code) {
        QMetaObject::invokeMethod(
            this, [this, code] { OnOpened(code); }, Qt::QueuedConnection);
    });
}

void CHyperLink::OnOpened(int code) {
    m_bVisited = platform::shell::Succeeded(code);
    if (m_bVisited) {
        SetVisited(true);
    } else {
        QApplication::beep();
        ShowOpenError(code);
    }
    emit Opened(code);
}

void CHyperLink::ShowOpenError(int code) {
    const std::string text = OpenErrorText(code);
    if (m_showError) {
        m_showError(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, FromUtf8(std::string(res::kAppName)), FromUtf8(text),
                    QMessageBox::Ok, window());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace web
