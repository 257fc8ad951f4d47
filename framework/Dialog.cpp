#include "framework/Dialog.h"
#include "framework/Application.h"

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (control.m_hWnd) return;
    HWND h = ::GetDlgItem(dx->m_pDlgWnd->m_hWnd, id);
    if (h) control.SubclassWindow(h);
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM, LPARAM l) {
    if (msg != WM_INITDIALOG) return FALSE;
    auto* dlg = reinterpret_cast<CDialog*>(l);
    dlg->SubclassWindow(hwnd);
    return dlg->OnInitDialog();
}

HWND CDialog::CreateFromTemplate(HWND owner) {
    return ::CreateDialogParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), owner,
                                &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::Create(UINT idTemplate, CWnd* parent) {
    m_nIDTemplate = idTemplate;
    m_pParentWnd = parent;
    return CreateFromTemplate(parent ? parent->m_hWnd : nullptr) != nullptr;
}

INT_PTR CDialog::DoModal() {
    CWnd* ownerWnd = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
    HWND owner = ownerWnd ? ownerWnd->m_hWnd : nullptr;
    bool disabled = false;
    if (owner && ::IsWindowEnabled(owner)) {
        ::EnableWindow(owner, FALSE);
        disabled = true;
    }
    m_modal = true;
    m_endModal = false;
    m_nModalResult = -1;
    if (CreateFromTemplate(owner)) {
        if (!m_endModal) {
            ShowWindow(SW_SHOW);
            RunModalLoop();
        }
    }
    // Enable the owner before the dialog goes, so activation returns to it and not elsewhere.
    if (disabled) ::EnableWindow(owner, TRUE);
    if (owner && m_hWnd && ::GetActiveWindow() == m_hWnd) ::SetActiveWindow(owner);
    DestroyWindow();
    m_modal = false;
    return m_nModalResult;
}

void CDialog::RunModalLoop() {
    bool idle = true;
    LONG count = 0;
    MSG msg;
    while (!m_endModal && m_hWnd) {
        while (idle && !m_endModal && !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            CWinApp* app = AfxGetApp();
            if (!app || !app->OnIdle(count++)) idle = false;
        }
        if (m_endModal || !m_hWnd) break;
        if (!::GetMessageW(&msg, nullptr, 0, 0)) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));  // leave WM_QUIT for the outer loop
            break;
        }
        CWinApp* app = AfxGetApp();
        if (!(app ? app->PreTranslateMessage(&msg) : AfxWalkPreTranslateTree(&msg))) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (CWinApp::IsIdleMessage(&msg)) {
            idle = true;
            count = 0;
        }
    }
}

void CDialog::EndDialog(int result) {
    m_nModalResult = result;
    if (m_modal) {
        m_endModal = true;
        ::PostMessageW(m_hWnd, WM_NULL, 0, 0);  // wake the loop
    } else {
        ::EndDialog(m_hWnd, result);
    }
}

BOOL CDialog::OnInitDialog() {
    AddInitialStrings();
    UpdateData(FALSE);
    LoadLayout();
    return TRUE;
}

void CDialog::AddInitialStrings() {
    HINSTANCE inst = AfxGetResourceHandle();
    HRSRC res = ::FindResourceW(inst, MAKEINTRESOURCEW(m_nIDTemplate), MAKEINTRESOURCEW(RT_DLGINIT_DATA_ID));
    if (!res) return;
    auto* words = static_cast<const WORD*>(::LockResource(::LoadResource(inst, res)));
    if (!words) return;
    const WORD* end = words + ::SizeofResource(inst, res) / sizeof(WORD);
    while (words < end && *words != 0) {
        int id = *words++;
        const WORD* text = words;
        while (words < end && *words != 0) ++words;
        if (words == end) break;  // a string without its NUL: the data is cut short
        ++words;
        ::SendDlgItemMessageW(m_hWnd, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
}

void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::PreTranslateMessage(MSG* msg) {
    // Only keyboard and mouse input gets dialog navigation.
    bool key = msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST;
    bool mouse = msg->message >= WM_MOUSEFIRST && msg->message <= WM_MOUSELAST;
    if (!key && !mouse) return FALSE;
    return ::IsDialogMessageW(m_hWnd, msg);
}

BOOL CDialog::OnCmdMsg(UINT id, int code, WPARAM w, LPARAM l) {
    if (CWnd::OnCmdMsg(id, code, w, l)) return TRUE;
    // Plain commands the dialog does not handle go to the application (ID_HELP, for one).
    if (code != 0) return FALSE;
    CWinApp* app = AfxGetApp();
    return app && app->OnCmdMsg(id, code, w, l);
}

LRESULT CDialog::WindowProc(UINT msg, WPARAM w, LPARAM l) {
    LRESULT r = CWnd::WindowProc(msg, w, l);
    if (msg == WM_SIZE && !m_layout.empty() && w != SIZE_MINIMIZED) ApplyLayout();
    return r;
}

void CDialog::LoadLayout() {
    m_layout.clear();
    HINSTANCE inst = AfxGetResourceHandle();
    HRSRC res = ::FindResourceW(inst, MAKEINTRESOURCEW(m_nIDTemplate), MAKEINTRESOURCEW(RT_LAYOUT_DATA_ID));
    if (!res) return;
    HGLOBAL data = ::LoadResource(inst, res);
    auto* words = static_cast<const WORD*>(::LockResource(data));
    DWORD count = ::SizeofResource(inst, res) / sizeof(WORD) / 5;
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    m_layoutBase = {client.right, client.bottom};
    for (DWORD i = 0; i < count; ++i, words += 5) {
        HWND control = ::GetDlgItem(m_hWnd, words[0]);
        if (!control) continue;
        RECT r;
        ::GetWindowRect(control, &r);
        ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
        m_layout.push_back({control, r, words[1], words[2], words[3], words[4]});
    }
}

void CDialog::ApplyLayout() {
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    // Below the template's size the controls keep their places.
    int dx = std::max(0, static_cast<int>(client.right - m_layoutBase.cx));
    int dy = std::max(0, static_cast<int>(client.bottom - m_layoutBase.cy));
    HDWP batch = ::BeginDeferWindowPos(static_cast<int>(m_layout.size()));
    for (const LayoutItem& item : m_layout) {
        int x = item.initial.left + MulDiv(dx, item.moveX, 100);
        int y = item.initial.top + MulDiv(dy, item.moveY, 100);
        int w = item.initial.right - item.initial.left + MulDiv(dx, item.sizeX, 100);
        int h = item.initial.bottom - item.initial.top + MulDiv(dy, item.sizeY, 100);
        if (batch) batch = ::DeferWindowPos(batch, item.control, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (batch) ::EndDeferWindowPos(batch);
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
}
