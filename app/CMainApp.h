#pragma once

#include "app/CMainDlg.h"

namespace app {

// The application object: runs the main dialog once; the program ends when it closes.
class CMainApp {
public:
    explicit CMainApp(MainServices services) : m_services(services) {}

    // Shows the main dialog modally and destroys it. Returns false so that no message loop
    // of the application's own follows.
    bool InitInstance();

    // The process's exit code: 0 unless a start-up step asked to quit with another code.
    int ExitCode() const { return m_exitCode; }

private:
    MainServices m_services;
    int m_exitCode = 0;
};

}  // namespace app
