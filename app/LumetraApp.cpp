#include "app/LumetraApp.h"
#include "app/SplashScreen.h"
#include "res/resource.h"
#include "ui/LumetraDlg.h"
#include "video/CompositeVideoSourceProvider.h"
#include <gdiplus.h>
#include <cstdio>

BEGIN_MESSAGE_MAP(CLumetraApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CLumetraApp::CLumetraApp() { m_dwRestartManagerSupportFlags = AFX_RESTART_MANAGER_SUPPORT_RESTART; }

static void printLine(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);  // the process may end by exit() from a window procedure
}

BOOL DetectCendraLibrary() {
    // Only the application's folder and the system folders: a library planted in the current
    // directory must not switch the program online (or run code in it).
    HMODULE lib = ::LoadLibraryExW(L"Cendra.dll", nullptr,
                                   LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (lib) {
        printLine("Cendra mode enabled.");
        return TRUE;
    }
    printLine("Cendra not detected, using offline mode.");
    return FALSE;
}

// The splash screen, about two seconds before the devices are set up. The splash and its image
// live only in here: both go before this start-up's GDI+ shuts down.
static void ShowSplashScreen() {
    SplashScreen splash(nullptr);
    Gdiplus::Image* loaded = LoadSplashImage(L"velmora_splash.png");
    if (!loaded || loaded->GetLastStatus() != Gdiplus::Ok) {
        delete loaded;
        ::MessageBoxW(nullptr, L"Failed to load velmora_splash.png", L"Failed", MB_ICONERROR);
        return;
    }
    splash.SetImage(loaded);
    splash.SetTitle(L"Velmora Lumetra");
    delete loaded;

    splash.Show();
    splash.SetProgress(70, L"Enumerating devices...");
    splash.AnimateProgress(0, 50, 5);
    ::Sleep(1000);
    splash.SetProgress(70, L"");
    ::Sleep(1000);
    splash.Hide();
}

BOOL CLumetraApp::InitInstance() {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    CWinApp::InitInstance();
    AfxEnableControlContainer();
    new CShellManager;
    CMFCVisualManager::SetDefaultManager(RUNTIME_CLASS(CMFCVisualManagerWindows));
    SetRegistryKey(L"Velmora Settings");

    Gdiplus::GdiplusStartupInput input(nullptr, TRUE, FALSE);
    Gdiplus::GdiplusStartupOutput output{};
    ULONG_PTR gdiplusToken = 0;
    ULONG_PTR hookToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &input, &output);
    if (output.NotificationHook) output.NotificationHook(&hookToken);

    ShowSplashScreen();

    BOOL online = DetectCendraLibrary();
    auto* provider = new CompositeVideoSourceProvider();

    auto* dlg = new CLumetraDlg(online);
    dlg->m_provider = provider;
    m_pMainWnd = dlg;
    dlg->Create(IDD_LUMETRA_DIALOG);
    dlg->ShowWindow(SW_SHOW);
    dlg->UpdateWindow();

    if (output.NotificationUnhook) output.NotificationUnhook(hookToken);
    Gdiplus::GdiplusShutdown(gdiplusToken);
    return TRUE;
}

BOOL CLumetraApp::OnIdle(LONG count) {
    CWinApp::OnIdle(count);
    CWnd* main = m_pMainWnd;
    HWND view = main ? ::GetDlgItem(main->m_hWnd, IDC_VIDEO_DISPLAY) : nullptr;
    if (view) {
        ::InvalidateRect(view, nullptr, TRUE);
        ::UpdateWindow(view);
    }
    return TRUE;
}
