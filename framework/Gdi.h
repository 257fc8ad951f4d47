// Thin GDI wrappers: rectangles, device contexts, fonts and brushes.
#pragma once
#include <windows.h>

class CSize : public SIZE {
public:
    CSize() { cx = cy = 0; }
    CSize(LONG x, LONG y) { cx = x; cy = y; }
    CSize(const SIZE& s) : SIZE(s) {}
};

class CRect : public RECT {
public:
    CRect() { left = top = right = bottom = 0; }
    CRect(LONG l, LONG t, LONG r, LONG b) { left = l; top = t; right = r; bottom = b; }
    CRect(const RECT& r) : RECT(r) {}
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    operator LPRECT() { return this; }
    operator LPCRECT() const { return this; }
};

class CGdiObject {
public:
    CGdiObject() = default;
    virtual ~CGdiObject() { DeleteObject(); }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    BOOL Attach(HGDIOBJ h) { DeleteObject(); m_hObject = h; return h != nullptr; }
    HGDIOBJ Detach() { HGDIOBJ h = m_hObject; m_hObject = nullptr; return h; }
    BOOL DeleteObject() {
        if (!m_hObject) return FALSE;
        ::DeleteObject(m_hObject);
        m_hObject = nullptr;
        return TRUE;
    }
    HGDIOBJ m_hObject = nullptr;
};

class CFont : public CGdiObject {
public:
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }
    BOOL CreateFontIndirect(const LOGFONTW* lf) { return Attach(::CreateFontIndirectW(lf)); }
    BOOL CreateFont(int height, int width, int escapement, int orientation, int weight, BYTE italic,
                    BYTE underline, BYTE strikeOut, BYTE charSet, BYTE outPrecision, BYTE clipPrecision,
                    BYTE quality, BYTE pitchAndFamily, LPCWSTR faceName) {
        return Attach(::CreateFontW(height, width, escapement, orientation, weight, italic, underline, strikeOut,
                                    charSet, outPrecision, clipPrecision, quality, pitchAndFamily, faceName));
    }
    // Height in tenths of a point, for the screen.
    BOOL CreatePointFont(int pointSize10, LPCWSTR faceName) {
        HDC dc = ::GetDC(nullptr);
        LOGFONTW lf{};
        lf.lfHeight = -MulDiv(pointSize10, ::GetDeviceCaps(dc, LOGPIXELSY), 720);
        ::ReleaseDC(nullptr, dc);
        lstrcpynW(lf.lfFaceName, faceName, LF_FACESIZE);
        return CreateFontIndirect(&lf);
    }
    int GetLogFont(LOGFONTW* lf) { return ::GetObjectW(m_hObject, sizeof(LOGFONTW), lf); }
    // A wrapper that does not own the font (released at idle time, with the window wrappers).
    static CFont* FromHandle(HFONT font);
    static void DeleteTempMap();
};

class CPen : public CGdiObject {
public:
    CPen() = default;
    CPen(int style, int width, COLORREF c) { CreatePen(style, width, c); }
    operator HPEN() const { return static_cast<HPEN>(m_hObject); }
    BOOL CreatePen(int style, int width, COLORREF c) { return Attach(::CreatePen(style, width, c)); }
};

class CBrush : public CGdiObject {
public:
    CBrush() = default;
    explicit CBrush(COLORREF c) { CreateSolidBrush(c); }
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
    BOOL CreateSolidBrush(COLORREF c) { return Attach(::CreateSolidBrush(c)); }
};

// A device context; one made by CreateCompatibleDC is owned and deleted with the object.
class CDC {
public:
    CDC() = default;
    explicit CDC(HDC dc) : m_hDC(dc) {}
    virtual ~CDC() { DeleteDC(); }
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }

    COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
    COLORREF SetBkColor(COLORREF c) { return ::SetBkColor(m_hDC, c); }
    int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
    HGDIOBJ SelectObject(HGDIOBJ obj) { return ::SelectObject(m_hDC, obj); }
    BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }

    BOOL CreateCompatibleDC(CDC* dc) {
        DeleteDC();
        m_hDC = ::CreateCompatibleDC(dc ? dc->m_hDC : nullptr);
        m_owned = m_hDC != nullptr;
        return m_owned;
    }
    // Deletes a context this object made; one it only wraps is forgotten.
    BOOL DeleteDC() {
        BOOL ok = m_owned && ::DeleteDC(m_hDC);
        m_hDC = nullptr;
        m_owned = false;
        return ok;
    }
    HGDIOBJ SelectStockObject(int index) { return ::SelectObject(m_hDC, ::GetStockObject(index)); }
    int SetStretchBltMode(int mode) { return ::SetStretchBltMode(m_hDC, mode); }
    BOOL StretchBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, int sw, int sh, DWORD rop) {
        return ::StretchBlt(m_hDC, x, y, w, h, src->m_hDC, sx, sy, sw, sh, rop);
    }
    void FillRect(LPCRECT r, CBrush* brush) { ::FillRect(m_hDC, r, *brush); }
    POINT MoveTo(int x, int y) { POINT old{}; ::MoveToEx(m_hDC, x, y, &old); return old; }
    BOOL LineTo(int x, int y) { return ::LineTo(m_hDC, x, y); }
    BOOL Rectangle(int l, int t, int r, int b) { return ::Rectangle(m_hDC, l, t, r, b); }
    CSize GetTextExtent(LPCWSTR text, int count) const {
        SIZE s{};
        ::GetTextExtentPoint32W(m_hDC, text, count, &s);
        return s;
    }
    int DrawText(LPCWSTR text, int count, LPRECT r, UINT format) { return ::DrawTextW(m_hDC, text, count, r, format); }

    HDC m_hDC = nullptr;

private:
    bool m_owned = false;
};

class CWnd;

class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps{};

private:
    HWND m_hWnd;
};
