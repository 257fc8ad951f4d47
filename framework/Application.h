// CWinApp: the one application object, its message loop with idle processing, and the entry
// point that runs InitInstance and then Run.
#pragma once
#include "framework/Threads.h"
#include "framework/Window.h"

#define ID_HELP 0xE146
#define AFX_RESTART_MANAGER_SUPPORT_RESTART 0x01

class CWinApp : public CWinThread {
public:
    explicit CWinApp(LPCWSTR appName = nullptr);
    ~CWinApp() override;

    BOOL InitInstance() override { return TRUE; }
    int Run() override;
    // Releases temporary window wrappers; asks for more idle time only on the first pass.
    BOOL OnIdle(LONG count) override;
    // The exit code: that of the WM_QUIT that ended Run.
    int ExitInstance() override { return static_cast<int>(m_msgCur.wParam); }
    // From the message's window up its parents to the top-level window.
    BOOL PreTranslateMessage(MSG* msg) override;

    // One GetMessage and its dispatch; false on WM_QUIT.
    BOOL PumpMessage();
    // Whether a message restarts the idle count: not WM_PAINT, the caret blink, nor a mouse move
    // to where the mouse already was.
    static BOOL IsIdleMessage(const MSG* msg);

    // Kept for its name only: nothing is read from or written to the registry.
    void SetRegistryKey(LPCWSTR key) { m_pszRegistryKey = key; }
    void OnHelp() {}

    LPCWSTR m_pszAppName = nullptr;
    LPCWSTR m_pszRegistryKey = nullptr;
    DWORD m_dwRestartManagerSupportFlags = 0;
    HINSTANCE m_hInstance = nullptr;
    int m_nCmdShow = SW_SHOWNORMAL;
    MSG m_msgCur{};

    DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
int AfxWinMain(HINSTANCE instance, int showCommand);

// Framework set-up the program asks for that has no effect here.
inline void AfxEnableControlContainer() {}
class CShellManager : public CObject {};
struct CRuntimeClass {
    const char* m_lpszClassName;
};
#define RUNTIME_CLASS(className) (&className::classRuntime)
class CMFCVisualManager : public CObject {
public:
    static void SetDefaultManager(const CRuntimeClass* manager) { s_default = manager; }
    static const CRuntimeClass* GetDefaultManager() { return s_default; }

private:
    static inline const CRuntimeClass* s_default = nullptr;
};
class CMFCVisualManagerWindows : public CMFCVisualManager {
public:
    static inline const CRuntimeClass classRuntime{"CMFCVisualManagerWindows"};
};
