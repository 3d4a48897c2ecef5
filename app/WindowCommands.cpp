#include "app/WindowCommands.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include "app/CInstructionsDlg.h"
#include "platform/shell/IShell.h"
#include "res/ResourceIds.h"
#include "res/Strings.h"

namespace app {

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

constexpr const char* kReduceText = "Reduce <<";
constexpr const char* kExpandText = "Expand >>";

}  // namespace

WindowCommands::WindowCommands(platform::shell::IShell& shell) : m_shell(shell) {}

WindowCommands::~WindowCommands() {
    Detach();
}

void WindowCommands::Attach(Parts parts, const std::map<int, QAction*>& commands) {
    Detach();
    m_parts = std::make_unique<Parts>(std::move(parts));
    auto bind = [&](int id, void (WindowCommands::*handler)()) {
        if (const auto it = commands.find(id); it != commands.end())
            connect(it->second, &QAction::triggered, this, handler);
    };
    bind(res::ID_INSTRUCTIONS, &WindowCommands::OnInstructions);
    bind(res::ID_WEB_SITE, &WindowCommands::OnWebSite);
    bind(res::ID_EMAIL, &WindowCommands::OnEmail);
    connect(&m_parts->reduceExpand, &QPushButton::clicked, this, &WindowCommands::OnReduceExpand);
    connect(&m_parts->advanced, &QPushButton::clicked, this, &WindowCommands::OnAdvancedSettings);

    m_windowMenu = std::make_unique<QMenu>(&m_parts->dialog);
    m_reduceExpandItem = m_windowMenu->addAction(m_parts->reduceExpand.text());
    connect(m_reduceExpandItem, &QAction::triggered, &m_parts->reduceExpand, &QPushButton::click);
    m_windowMenu->addSeparator();
    QAction* about = m_windowMenu->addAction(FromUtf8(res::kAboutMenuItem));
    connect(about, &QAction::triggered, this, [this] { OnSysCommand(kAboutCommand); });
    connect(m_windowMenu.get(), &QMenu::aboutToShow, this, [this] { m_parts->initMenu(); });

    m_parts->dialog.setContextMenuPolicy(Qt::DefaultContextMenu);
    qApp->installEventFilter(this);
}

void WindowCommands::Detach() {
    if (!m_parts)
        return;
    qApp->removeEventFilter(this);
    m_windowMenu.reset();
    m_reduceExpandItem = nullptr;
    disconnect(&m_parts->reduceExpand, nullptr, this, nullptr);
    disconnect(&m_parts->advanced, nullptr, this, nullptr);
    m_parts.reset();
}

void WindowCommands::OnSysCommand(int id) {
    if ((id & 0xFFF0) == kAboutCommand)
        OnInstructions();
}

void WindowCommands::OnInstructions() {
    CInstructionsDlg dialog(m_parts ? &m_parts->dialog : nullptr);
    dialog.exec();
}

void WindowCommands::OnWebSite() {
    m_shell.Open(std::string(res::kSiteHome), {});
}

void WindowCommands::OnEmail() {
    m_shell.Open("mailto:" + std::string(res::kEmail), {});
}

void WindowCommands::OnReduceExpand() {
    if (!m_parts)
        return;
    const bool reduce = m_bReduceExpand == 1;
    m_parts->resize(reduce ? kReducedSize : kExpandedSize);
    m_parts->reduceExpand.setText(QString::fromLatin1(reduce ? kExpandText : kReduceText));
    m_reduceExpandItem->setText(m_parts->reduceExpand.text());
    m_bReduceExpand = reduce ? 0 : 1;
}

bool WindowCommands::IsOurs(QObject* watched) const {
    auto* widget = qobject_cast<QWidget*>(watched);
    return m_parts && widget != nullptr && widget->window() == &m_parts->dialog;
}

void WindowCommands::ShowWindowMenu(const QPoint& globalPos, bool byKeyboard) {
    m_windowMenu->popup(globalPos);
    // From the keyboard the first item is highlighted, so Enter takes it at once.
    if (byKeyboard)
        m_windowMenu->setActiveAction(m_reduceExpandItem);
}

bool WindowCommands::eventFilter(QObject* watched, QEvent* event) {
    if (!IsOurs(watched))
        return false;
    switch (event->type()) {
        case QEvent::ContextMenu:
            // Only the window's background: controls keep their own menus.
            if (watched == &m_parts->dialog || watched->parent() == &m_parts->dialog) {
                ShowWindowMenu(static_cast<QContextMenuEvent*>(event)->globalPos(), false);
                return true;
            }
            return false;
        case QEvent::KeyPress: {
            auto* key = static_cast<QKeyEvent*>(event);
            m_altAlone = key->key() == Qt::Key_Alt && !key->isAutoRepeat();
            if (key->key() == Qt::Key_Space && key->modifiers() == Qt::AltModifier) {
                ShowWindowMenu(m_parts->dialog.mapToGlobal(QPoint(0, 0)), true);
                return true;
            }
            if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::NoModifier) {
                // Into the menu bar from the keyboard: its first menu opens.
                const QList<QAction*> menus = m_parts->menuBar.actions();
                if (!menus.isEmpty())
                    m_parts->menuBar.setActiveAction(menus.first());
                return true;
            }
            return false;
        }
        case QEvent::KeyRelease: {
            auto* key = static_cast<QKeyEvent*>(event);
            // Alt pressed and let go alone puts the menu bar in keyboard mode.
            if (key->key() == Qt::Key_Alt && m_altAlone && !key->isAutoRepeat())
                m_parts->initMenu();
            if (key->key() == Qt::Key_Alt)
                m_altAlone = false;
            return false;
        }
        case QEvent::MouseButtonPress:
            m_altAlone = false;
            return false;
        default:
            return false;
    }
}

}  // namespace app
