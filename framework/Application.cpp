#include "framework/Application.h"

namespace {
CWinApp* g_app = nullptr;
POINT g_lastMousePos{-1, -1};
UINT g_lastMouseMsg = 0;
}

CWinApp::CWinApp(LPCWSTR appName) : m_pszAppName(appName) {
    g_app = this;
    m_hInstance = ::GetModuleHandleW(nullptr);
    m_hThread = ::GetCurrentThread();  // a pseudo handle: nothing to close
    m_nThreadID = ::GetCurrentThreadId();
    m_bAutoDelete = FALSE;
}

CWinApp::~CWinApp() {
    m_hThread = nullptr;
    if (g_app == this) g_app = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }
CWnd* AfxGetMainWnd() { return g_app ? g_app->m_pMainWnd : nullptr; }
HINSTANCE AfxGetInstanceHandle() { return g_app ? g_app->m_hInstance : ::GetModuleHandleW(nullptr); }
HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

BEGIN_MESSAGE_MAP(CWinApp, CWinThread)
END_MESSAGE_MAP()

BOOL CWinApp::IsIdleMessage(const MSG* msg) {
    if (msg->message == WM_MOUSEMOVE || msg->message == WM_NCMOUSEMOVE) {
        bool same = msg->message == g_lastMouseMsg && msg->pt.x == g_lastMousePos.x && msg->pt.y == g_lastMousePos.y;
        g_lastMouseMsg = msg->message;
        g_lastMousePos = msg->pt;
        return !same;
    }
    return msg->message != WM_PAINT && msg->message != 0x0118;  // 0x0118: the caret blink
}

BOOL CWinApp::PreTranslateMessage(MSG* msg) { return AfxWalkPreTranslateTree(msg); }

BOOL CWinApp::PumpMessage() {
    if (!::GetMessageW(&m_msgCur, nullptr, 0, 0)) return FALSE;
    if (!PreTranslateMessage(&m_msgCur)) {
        ::TranslateMessage(&m_msgCur);
        ::DispatchMessageW(&m_msgCur);
    }
    return TRUE;
}

int CWinApp::Run() {
    bool idle = true;
    LONG count = 0;
    MSG peek;
    for (;;) {
        while (idle && !::PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!OnIdle(count++)) idle = false;
        }
        do {
            if (!PumpMessage()) return ExitInstance();
            if (IsIdleMessage(&m_msgCur)) {
                idle = true;
                count = 0;
            }
        } while (::PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE));
    }
}

BOOL CWinApp::OnIdle(LONG count) {
    if (count >= 1) CWnd::DeleteTempMap();
    return count < 1;
}

int AfxWinMain(HINSTANCE instance, int showCommand) {
    CWinApp* app = AfxGetApp();
    if (!app) return -1;
    app->m_hInstance = instance;
    app->m_nCmdShow = showCommand;
    if (!app->InitInstance()) {
        if (app->m_pMainWnd) app->m_pMainWnd->DestroyWindow();
        return app->ExitInstance();
    }
    return app->Run();
}

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand) {
    return AfxWinMain(instance, showCommand);
}
