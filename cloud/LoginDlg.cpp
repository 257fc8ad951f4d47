#include "cloud/LoginDlg.h"
#include "cloud/CendraClient.h"
#include "cloud/DialogLook.h"
#include "cloud/Upload.h"
#include "res/CloudFormsResource.h"
#include "ui/LumetraDlg.h"
#include "video/CompositeVideoSourceProvider.h"
#include <algorithm>
#include <cstdlib>

namespace {

std::wstring ItemText(const CWnd* dlg, int id) {
    CString text;
    if (CWnd* item = dlg->GetDlgItem(id)) item->GetWindowText(text);
    return text.str();
}

}  // namespace

BEGIN_MESSAGE_MAP(CLoginDlg, CDialogEx)
    ON_BN_CLICKED(IDC_LOGIN_BUTTON, &CLoginDlg::OnBnClickedLogin)
    ON_NOTIFY(TCN_SELCHANGE, IDC_LOGIN_TABS, &CLoginDlg::OnTcnSelchangeUserType)
    ON_WM_ERASEBKGND()
    ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

CLoginDlg::CLoginDlg(CLumetraDlg* mainDlg) : CLoginDlg(mainDlg, kCendraDefaultEndpoint) {}

CLoginDlg::CLoginDlg(CLumetraDlg* mainDlg, std::string baseUrl)
    : CDialogEx(IDD_LOGIN_DIALOG), m_client(new CendraClient(std::move(baseUrl))), m_mainDlg(mainDlg) {}

CLoginDlg::~CLoginDlg() { delete m_client; }

CendraClient* CLoginDlg::ReleaseClient() {
    CendraClient* client = m_client;
    m_client = nullptr;
    return client;
}

std::string CLoginDlg::BannerText(const std::string& userIdentifier, std::time_t when) {
    return "Welcome, " + userIdentifier + "!  |  " + WideToUtf8(CTime(when).Format(L"%m/%d/%Y %H:%M").str());
}

BOOL CLoginDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();

    wchar_t folder[MAX_PATH];
    const DWORD n = ::GetCurrentDirectoryW(MAX_PATH, folder);
    // A longer path means no logo rather than a cut one.
    if (n != 0 && n < MAX_PATH) m_logo.Load((std::wstring(folder, n) + L"\\velmora_app.png").c_str());
    if (CWnd* logo = GetDlgItem(IDC_LOGIN_LOGO)) {
        logo->ModifyStyle(SS_TYPEMASK, SS_BITMAP, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER);
        // m_logo outlives the window, so the control may show this very bitmap.
        logo->SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(static_cast<HBITMAP>(m_logo)));
    }

    if (m_userTypeTabs.SubclassDlgItem(IDC_LOGIN_TABS, this)) {
        m_userTypeTabs.InsertItem(0, L"User");
        m_userTypeTabs.InsertItem(1, L"Facility Admin");
    }
    SetDlgItemText(IDC_LOGIN_NAME_LABEL, L"Username");
    m_isAdmin = false;
    return TRUE;
}

BOOL CLoginDlg::DestroyWindow() {
    if (!m_loggedIn) ExitWithoutLogin();
    ReleaseLogo();
    return CDialogEx::DestroyWindow();
}

void CLoginDlg::ReleaseLogo() {
    CWnd* logo = GetDlgItem(IDC_LOGIN_LOGO);
    if (!logo) return;
    // A static with the visual styles shows a copy of a bitmap with alpha and hands it back here;
    // the dialog is made again at every log-out, so the copy must not stay behind.
    auto shown = reinterpret_cast<HBITMAP>(logo->SendMessage(STM_SETIMAGE, IMAGE_BITMAP, 0));
    if (shown && shown != static_cast<HBITMAP>(m_logo)) ::DeleteObject(shown);
}

void CLoginDlg::ExitWithoutLogin() {
    // As the main window's close: the recording ends and every source lets its device go first.
    if (m_mainDlg && m_mainDlg->m_provider) m_mainDlg->CloseDevices();
    std::exit(1);
}

void CLoginDlg::OnTcnSelchangeUserType(NMHDR*, LRESULT* result) {
    // The label flips on every change; with two tabs it follows the tab.
    if (ItemText(this, IDC_LOGIN_NAME_LABEL) == L"Email") {
        SetDlgItemText(IDC_LOGIN_NAME_LABEL, L"Username");
        m_isAdmin = false;
    } else {
        SetDlgItemText(IDC_LOGIN_NAME_LABEL, L"Email");
        m_isAdmin = true;
    }
    SetDlgItemText(IDC_LOGIN_NAME, L"");
    SetDlgItemText(IDC_LOGIN_PASSWORD, L"");
    *result = 0;
}

void CLoginDlg::OnBnClickedLogin() {
    m_userName = ItemText(this, IDC_LOGIN_NAME);
    m_password = ItemText(this, IDC_LOGIN_PASSWORD);
    const std::string name = WideToUtf8(m_userName.str());
    const std::string password = WideToUtf8(m_password.str());
    if (name.empty() || password.empty()) return;

    m_client->Login(name, password);
    if (!m_client->IsLoggedIn()) {
        SetDlgItemText(IDC_LOGIN_ERROR, L"Login Error. Check credentials.");
        m_loggedIn = false;
        return;
    }
    m_client->session->isAdmin = m_isAdmin;
    SetDlgItemText(IDC_LOGIN_ERROR, L"");
    if (m_mainDlg) {
        m_mainDlg->SetBannerText(BannerText(m_client->session->userIdentifier, Now()));
        m_mainDlg->ShowWindow(SW_SHOW);
    }
    SetDlgItemText(IDC_LOGIN_NAME, L"");
    SetDlgItemText(IDC_LOGIN_PASSWORD, L"");
    m_loggedIn = true;
    EndDialog(1);
}

BOOL CLoginDlg::OnEraseBkgnd(CDC* dc) { return EraseBackgroundWhite(this, dc); }

HBRUSH CLoginDlg::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) {
    if (HBRUSH white = CtlColorWhiteIfTransparent(dc, wnd)) return white;
    return CDialogEx::OnCtlColor(dc, wnd, ctlColor);
}
