#include "app/CMainApp.h"

namespace app {

bool CMainApp::InitInstance() {
    CMainDlg dialog(m_services);
    dialog.DoModal();
    return false;
}

}  // namespace app
