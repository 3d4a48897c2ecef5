#include "app/CMainApp.h"

namespace app {

bool CMainApp::InitInstance() {
    CMainDlg dialog(m_services);
    dialog.DoModal();
    if (const std::optional<int> quit = dialog.QuitCode())
        m_exitCode = *quit;
    return false;
}

}  // namespace app
