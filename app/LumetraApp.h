// The application object: start-up, the online/offline decision and the idle loop that drives
// the live view.
#pragma once
#include "framework/Framework.h"

class CLumetraApp : public CWinApp {
public:
    CLumetraApp();
    BOOL InitInstance() override;
    int Run() override { return CWinApp::Run(); }
    // Repaints the live view on every idle pass and always asks for more idle time.
    BOOL OnIdle(LONG count) override;

    DECLARE_MESSAGE_MAP()
};

extern CLumetraApp theApp;

// Whether the companion library "Cendra.dll" can be loaded: online mode. Prints the mode.
BOOL DetectCendraLibrary();
