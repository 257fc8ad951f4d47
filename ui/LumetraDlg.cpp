#include "ui/LumetraDlg.h"
#include "res/resource.h"
#include "video/CompositeVideoSourceProvider.h"
#include <cstdlib>

CLumetraDlg::CLumetraDlg(BOOL online, CWnd* parent)
    : CDialogEx(IDD_LUMETRA_DIALOG, parent),
      m_icon(::LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      m_online(online) {}

BEGIN_MESSAGE_MAP(CLumetraDlg, CDialogEx)
    ON_WM_SYSCOMMAND()
    ON_WM_CLOSE()
END_MESSAGE_MAP()

void CLumetraDlg::DoDataExchange(CDataExchange* dx) { CDialogEx::DoDataExchange(dx); }

BOOL CLumetraDlg::PreTranslateMessage(MSG* msg) {
    // Keys skip the dialog's own navigation: Tab, Enter and Esc neither move the focus nor close it.
    if (msg->message == WM_KEYDOWN || msg->message == WM_TIMER) return FALSE;
    return CDialogEx::PreTranslateMessage(msg);
}

BOOL CLumetraDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    m_provider->SetNotifyWindow(AfxGetMainWnd()->m_hWnd);
    SetIcon(m_icon, FALSE);
    SetWindowText(L"Velmora Lumetra v6.0.0");
    return TRUE;
}

void CLumetraDlg::OnSysCommand(UINT id, LPARAM l) { CDialogEx::OnSysCommand(id, l); }

void CLumetraDlg::OnClose() {
    m_provider->CloseAllSources();
    std::exit(0);
}
