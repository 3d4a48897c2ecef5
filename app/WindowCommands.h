#pragma once

#include <QObject>
#include <QSize>
#include <functional>
#include <map>
#include <memory>

class QAction;
class QMenu;
class QMenuBar;
class QPushButton;
class QWidget;

namespace platform::shell {
class IShell;
}  // namespace platform::shell

namespace app {

// The main window's own commands: instructions, About, the maker's site and e-mail,
// Reduce/Expand, the advanced-settings button, and the release of all notes whenever a menu
// is entered from the keyboard (Alt, F10, Alt+Space). GUI thread only.
//
// X11 gives the system menu to the window manager, so the About item lives in the window's
// own menu: a right click on the window's background or Alt+Space opens it. It also holds
// the Reduce/Expand command, whose button lies below the window's edge at the start-up size.
class WindowCommands : public QObject {
    Q_OBJECT

public:
    static constexpr QSize kReducedSize{677, 380};
    static constexpr QSize kExpandedSize{677, 590};
    static constexpr int kAboutCommand = 16;

    // `shell` must outlive this object.
    explicit WindowCommands(platform::shell::IShell& shell);
    ~WindowCommands() override;

    struct Parts {
        QWidget& dialog;
        QMenuBar& menuBar;
        QPushButton& reduceExpand;
        QPushButton& advanced;
        // Sets the window's size, keeping its position.
        std::function<void(QSize)> resize;
        // What entering any menu does (release all notes).
        std::function<void()> initMenu;
    };
    // Binds the commands to the dialog's menu actions (by command id) and buttons, and
    // builds the window menu.
    void Attach(Parts parts, const std::map<int, QAction*>& commands);
    void Detach();

    void OnSysCommand(int id);
    void OnInstructions();
    void OnWebSite();
    void OnEmail();
    void OnReduceExpand();
    void OnAdvancedSettings() {}

    // The window menu (About and Reduce/Expand); null before Attach.
    QMenu* WindowMenu() const { return m_windowMenu.get(); }
    int ReduceExpandFlag() const { return m_bReduceExpand; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool IsOurs(QObject* watched) const;
    void ShowWindowMenu(const QPoint& globalPos, bool byKeyboard);

    platform::shell::IShell& m_shell;
    std::unique_ptr<Parts> m_parts;
    std::unique_ptr<QMenu> m_windowMenu;
    QAction* m_reduceExpandItem = nullptr;
    // Process-wide: 1 at start, toggled by each Reduce/Expand.
    int m_bReduceExpand = 1;
    bool m_altAlone = false;
};

}  // namespace app
