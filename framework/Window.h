// CWnd: a C++ object bound to a window. A window is bound either by subclassing (its window
// procedure is replaced by ours, the old one kept for default processing) or as a temporary
// wrapper (FromHandle of a window nobody bound), released at idle time.
#pragma once
#include "framework/Gdi.h"
#include "framework/Object.h"
#include "framework/Strings.h"

class CDataExchange;

class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    operator HWND() const { return m_hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The bound object of a window, else a temporary wrapper (null for a null handle).
    static CWnd* FromHandle(HWND hwnd);
    // The bound object of a window, or null.
    static CWnd* FromHandlePermanent(HWND hwnd);
    // Releases the temporary wrappers; the application calls it at idle time.
    static void DeleteTempMap();

    BOOL Attach(HWND hwnd);
    HWND Detach();
    BOOL SubclassWindow(HWND hwnd);
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    HWND UnsubclassWindow();

    // Harmless on a window that is already gone.
    virtual BOOL DestroyWindow();
    virtual BOOL PreTranslateMessage(MSG* msg);
    virtual void DoDataExchange(CDataExchange*) {}
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // Window operations.
    CWnd* GetDlgItem(int id) const;
    CWnd* GetParent() const;
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    void SetWindowText(LPCWSTR text) { ::SetWindowTextW(m_hWnd, text); }
    void GetWindowText(CString& text) const;
    int GetWindowTextLength() const { return ::GetWindowTextLengthW(m_hWnd); }
    void SetDlgItemText(int id, LPCWSTR text) { ::SetDlgItemTextW(m_hWnd, id, text); }
    BOOL ShowWindow(int cmd) { return ::ShowWindow(m_hWnd, cmd); }
    BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc = nullptr) { return ::SetTimer(m_hWnd, id, elapse, proc); }
    BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
    int MessageBox(LPCWSTR text, LPCWSTR caption = nullptr, UINT type = MB_OK) {
        return ::MessageBoxW(m_hWnd, text, caption ? caption : L"", type);
    }
    void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }
    void InvalidateRect(LPCRECT rect, BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, rect, erase); }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    LRESULT SendMessage(UINT msg, WPARAM w = 0, LPARAM l = 0) const { return ::SendMessageW(m_hWnd, msg, w, l); }
    BOOL PostMessage(UINT msg, WPARAM w = 0, LPARAM l = 0) const { return ::PostMessageW(m_hWnd, msg, w, l); }
    void GetClientRect(LPRECT r) const { ::GetClientRect(m_hWnd, r); }
    void GetWindowRect(LPRECT r) const { ::GetWindowRect(m_hWnd, r); }
    void ScreenToClient(LPRECT r) const;
    void MoveWindow(int x, int y, int w, int h, BOOL repaint = TRUE) { ::MoveWindow(m_hWnd, x, y, w, h, repaint); }
    void MoveWindow(LPCRECT r, BOOL repaint = TRUE) { MoveWindow(r->left, r->top, r->right - r->left, r->bottom - r->top, repaint); }
    BOOL SetWindowPos(const CWnd* after, int x, int y, int cx, int cy, UINT flags) {
        return ::SetWindowPos(m_hWnd, after ? after->m_hWnd : nullptr, x, y, cx, cy, flags);
    }
    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE)); }
    DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE)); }
    // Changes the style bits; with flags, also SetWindowPos(flags | frame-changed) to apply them.
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
    BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);
    HICON SetIcon(HICON icon, BOOL big) {
        return reinterpret_cast<HICON>(SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
    }
    CWnd* SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
    static CWnd* GetFocus() { return FromHandle(::GetFocus()); }
    // The window's font as a wrapper that does not own it; null for the system font.
    CFont* GetFont() const { return CFont::FromHandle(reinterpret_cast<HFONT>(SendMessage(WM_GETFONT))); }
    void SetFont(CFont* font, BOOL redraw = TRUE) {
        SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font ? font->m_hObject : nullptr), redraw);
    }

    // Message handlers the maps name; each default passes the message on.
    void OnPaint() { Default(); }
    BOOL OnEraseBkgnd(CDC*) { return static_cast<BOOL>(Default()); }
    HBRUSH OnCtlColor(CDC*, CWnd*, UINT) { return reinterpret_cast<HBRUSH>(Default()); }
    void OnTimer(UINT_PTR) { Default(); }
    void OnClose() { Default(); }
    BOOL OnQueryEndSession() { return static_cast<BOOL>(Default()); }
    void OnEndSession(BOOL) { Default(); }
    void OnSysCommand(UINT, LPARAM) { Default(); }
    HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }
    void OnSize(UINT, int, int) { Default(); }
    void OnDestroy() { Default(); }

protected:
    virtual LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l);
    // Runs the message map entry for a message; false when there is none.
    virtual BOOL OnWndMsg(UINT msg, WPARAM w, LPARAM l, LRESULT* result);
    virtual BOOL OnCommand(WPARAM w, LPARAM l);
    virtual BOOL OnNotify(WPARAM w, LPARAM l, LRESULT* result);
    virtual LRESULT DefWindowProc(UINT msg, WPARAM w, LPARAM l);
    // A message the parent reflects back to the control that sent it (WM_DRAWITEM); true when
    // the control handled it.
    virtual BOOL OnChildNotify(UINT msg, WPARAM w, LPARAM l, LRESULT* result) { return FALSE; }
    virtual void PostNcDestroy() {}
    // Default processing of the message being handled.
    LRESULT Default();

    static LRESULT CALLBACK AfxWndProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l);
    WNDPROC m_pfnSuper = nullptr;

private:
    friend class CWinApp;
    friend class CWinThread;
};

// The current message of the UI thread, for Default() and GetCurrentMessage.
const MSG* AfxGetCurrentMessage();
// Gives a message to PreTranslateMessage of its window and each parent up to the top-level window.
BOOL AfxWalkPreTranslateTree(MSG* msg);

#define ON_WM_PAINT() AFX_ENTRY(WM_PAINT, 0, 0, AFX_SELF->OnPaint(); return 0;)
#define ON_WM_ERASEBKGND()                                   \
    AFX_ENTRY(WM_ERASEBKGND, 0, 0, CDC dc(reinterpret_cast<HDC>(w)); return AFX_SELF->OnEraseBkgnd(&dc);)
#define ON_WM_CTLCOLOR()                                                                     \
    AFX_ENTRY(WM_CTLCOLOR, 0, 0, CDC dc(reinterpret_cast<HDC>(w));                           \
              return reinterpret_cast<LRESULT>(AFX_SELF->OnCtlColor(                         \
                  &dc, CWnd::FromHandle(reinterpret_cast<HWND>(l)), m - WM_CTLCOLORMSGBOX));)
#define ON_WM_TIMER() AFX_ENTRY(WM_TIMER, 0, 0, AFX_SELF->OnTimer(static_cast<UINT_PTR>(w)); return 0;)
#define ON_WM_CLOSE() AFX_ENTRY(WM_CLOSE, 0, 0, AFX_SELF->OnClose(); return 0;)
#define ON_WM_QUERYENDSESSION() AFX_ENTRY(WM_QUERYENDSESSION, 0, 0, return AFX_SELF->OnQueryEndSession();)
#define ON_WM_ENDSESSION() \
    AFX_ENTRY(WM_ENDSESSION, 0, 0, AFX_SELF->OnEndSession(static_cast<BOOL>(w)); return 0;)
#define ON_WM_SYSCOMMAND() AFX_ENTRY(WM_SYSCOMMAND, 0, 0, AFX_SELF->OnSysCommand(static_cast<UINT>(w), l); return 0;)
#define ON_WM_QUERYDRAGICON() AFX_ENTRY(WM_QUERYDRAGICON, 0, 0, return reinterpret_cast<LRESULT>(AFX_SELF->OnQueryDragIcon());)
#define ON_WM_SIZE() \
    AFX_ENTRY(WM_SIZE, 0, 0, AFX_SELF->OnSize(static_cast<UINT>(w), LOWORD(l), HIWORD(l)); return 0;)
#define ON_WM_DESTROY() AFX_ENTRY(WM_DESTROY, 0, 0, AFX_SELF->OnDestroy(); return 0;)
