#include "framework/Window.h"
#include "framework/Application.h"
#include "framework/Dialog.h"
#include <memory>
#include <unordered_map>

namespace {
// Handle maps of the thread: windows bound to objects, and temporary wrappers.
struct HandleMaps {
    std::unordered_map<HWND, CWnd*> permanent;
    std::unordered_map<HWND, std::unique_ptr<CWnd>> temporary;
};
thread_local HandleMaps t_maps;
thread_local MSG t_currentMsg{};
}

const MSG* AfxGetCurrentMessage() { return &t_currentMsg; }

CWnd::~CWnd() {
    if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
    if (m_hWnd) Detach();
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
    auto it = t_maps.permanent.find(hwnd);
    return it == t_maps.permanent.end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hwnd) {
    if (!hwnd) return nullptr;
    if (CWnd* w = FromHandlePermanent(hwnd)) return w;
    auto& slot = t_maps.temporary[hwnd];
    if (!slot) {
        slot = std::make_unique<CWnd>();
        slot->m_hWnd = hwnd;
    }
    return slot.get();
}

void CWnd::DeleteTempMap() {
    for (auto& [hwnd, wnd] : t_maps.temporary) wnd->m_hWnd = nullptr;  // wrappers never own
    t_maps.temporary.clear();
    CFont::DeleteTempMap();
}

namespace {
thread_local std::unordered_map<HFONT, std::unique_ptr<CFont>> t_tempFonts;
}

CFont* CFont::FromHandle(HFONT font) {
    if (!font) return nullptr;
    auto& slot = t_tempFonts[font];
    if (!slot) {
        slot = std::make_unique<CFont>();
        slot->m_hObject = font;
    }
    return slot.get();
}

void CFont::DeleteTempMap() {
    for (auto& [h, font] : t_tempFonts) font->Detach();
    t_tempFonts.clear();
}

BOOL CWnd::Attach(HWND hwnd) {
    if (!hwnd || m_hWnd) return FALSE;
    m_hWnd = hwnd;
    t_maps.permanent[hwnd] = this;
    // A temporary wrapper made earlier for this window would now shadow nothing; drop it.
    auto it = t_maps.temporary.find(hwnd);
    if (it != t_maps.temporary.end()) {
        it->second->m_hWnd = nullptr;
        t_maps.temporary.erase(it);
    }
    return TRUE;
}

HWND CWnd::Detach() {
    HWND h = m_hWnd;
    if (h) {
        auto it = t_maps.permanent.find(h);
        if (it != t_maps.permanent.end() && it->second == this) t_maps.permanent.erase(it);
    }
    m_hWnd = nullptr;
    return h;
}

BOOL CWnd::SubclassWindow(HWND hwnd) {
    if (!Attach(hwnd)) return FALSE;
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::AfxWndProc)));
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    HWND h = ::GetDlgItem(parent->m_hWnd, static_cast<int>(id));
    return h ? SubclassWindow(h) : FALSE;
}

HWND CWnd::UnsubclassWindow() {
    if (m_pfnSuper) ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    m_pfnSuper = nullptr;
    return Detach();
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd || !::IsWindow(m_hWnd)) return FALSE;
    HWND h = m_hWnd;
    BOOL ok = ::DestroyWindow(h);
    // A window that is not ours to watch (a wrapper) is forgotten here; ours in WM_NCDESTROY.
    if (m_hWnd == h && !::IsWindow(h)) Detach();
    return ok;
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

CWnd* CWnd::GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }
CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }

void CWnd::GetWindowText(CString& text) const {
    int n = ::GetWindowTextLengthW(m_hWnd);
    wchar_t* buf = text.GetBufferSetLength(n + 1);
    int got = ::GetWindowTextW(m_hWnd, buf, n + 1);
    text.ReleaseBuffer(got);
}

void CWnd::ScreenToClient(LPRECT r) const {
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(r), 2);
}

static BOOL modifyLong(HWND h, int index, DWORD remove, DWORD add, UINT flags) {
    DWORD old = static_cast<DWORD>(::GetWindowLongW(h, index));
    DWORD now = (old & ~remove) | add;
    if (now == old) return FALSE;
    ::SetWindowLongW(h, index, static_cast<LONG>(now));
    if (flags) ::SetWindowPos(h, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | flags);
    return TRUE;
}
BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT flags) { return modifyLong(m_hWnd, GWL_STYLE, remove, add, flags); }
BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT flags) { return modifyLong(m_hWnd, GWL_EXSTYLE, remove, add, flags); }

LRESULT CWnd::Default() {
    return DefWindowProc(t_currentMsg.message, t_currentMsg.wParam, t_currentMsg.lParam);
}

LRESULT CWnd::DefWindowProc(UINT msg, WPARAM w, LPARAM l) {
    if (m_pfnSuper) return ::CallWindowProcW(m_pfnSuper, m_hWnd, msg, w, l);
    return ::DefWindowProcW(m_hWnd, msg, w, l);
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM w, LPARAM l) {
    LRESULT result = 0;
    if (!OnWndMsg(msg, w, l, &result)) result = DefWindowProc(msg, w, l);
    return result;
}

BOOL CWnd::OnWndMsg(UINT msg, WPARAM w, LPARAM l, LRESULT* result) {
    if (msg == WM_COMMAND) {
        if (!OnCommand(w, l)) return FALSE;
        *result = 0;
        return TRUE;
    }
    if (msg == WM_NOTIFY) return OnNotify(w, l, result);
    UINT key = (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC) ? WM_CTLCOLOR : msg;
    const AFX_MSGMAP_ENTRY* e = FindEntry(GetMessageMap(), key, 0, 0);
    if (!e && msg == WM_DRAWITEM) {
        // Owner drawing belongs to the control: reflect it to the bound object of the sender.
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(l);
        CWnd* child = item && item->CtlType != ODT_MENU ? FromHandlePermanent(item->hwndItem) : nullptr;
        return child && child->OnChildNotify(msg, w, l, result);
    }
    if (!e) return FALSE;
    *result = e->pfn(this, msg, w, l);
    return TRUE;
}

BOOL CWnd::OnCommand(WPARAM w, LPARAM l) {
    UINT id = LOWORD(w);
    // Menus and accelerators send codes 0 and 1; both are plain commands.
    int code = l ? HIWORD(w) : 0;
    return OnCmdMsg(id, code, w, l);
}

BOOL CWnd::OnNotify(WPARAM, LPARAM l, LRESULT* result) {
    auto* hdr = reinterpret_cast<NMHDR*>(l);
    const AFX_MSGMAP_ENTRY* e = FindEntry(GetMessageMap(), WM_NOTIFY, hdr->code, static_cast<UINT>(hdr->idFrom));
    if (!e) return FALSE;
    *result = e->pfn(this, WM_NOTIFY, 0, l);
    return TRUE;
}

LRESULT CALLBACK CWnd::AfxWndProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    CWnd* wnd = FromHandlePermanent(hwnd);
    if (!wnd) return ::DefWindowProcW(hwnd, msg, w, l);
    MSG saved = t_currentMsg;
    t_currentMsg = MSG{hwnd, msg, w, l, 0, {0, 0}};
    LRESULT result = wnd->WindowProc(msg, w, l);
    t_currentMsg = saved;
    if (msg == WM_NCDESTROY) {
        WNDPROC super = wnd->m_pfnSuper;
        if (super) ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(super));
        wnd->m_pfnSuper = nullptr;
        wnd->Detach();
        CWinApp* app = AfxGetApp();
        if (app && app->m_pMainWnd == wnd) PostQuitMessage(0);
        wnd->PostNcDestroy();
    }
    return result;
}

BOOL AfxWalkPreTranslateTree(MSG* msg) {
    for (HWND h = msg->hwnd; h; h = ::GetParent(h)) {
        CWnd* wnd = CWnd::FromHandlePermanent(h);
        if (wnd && wnd->PreTranslateMessage(msg)) return TRUE;
        if (!(::GetWindowLongW(h, GWL_STYLE) & WS_CHILD)) break;  // stop at the top-level window
    }
    return FALSE;
}

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd->m_hWnd) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }
CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
