// Thin GDI wrappers: rectangles, device contexts, fonts and brushes.
#pragma once
#include <windows.h>

class CPoint : public POINT {
public:
    CPoint(LONG px = 0, LONG py = 0) { x = px; y = py; }
};

class CSize : public SIZE {
public:
    CSize(LONG w = 0, LONG h = 0) { cx = w; cy = h; }
};

class CRect : public RECT {
public:
    CRect() { left = top = right = bottom = 0; }
    CRect(LONG l, LONG t, LONG r, LONG b) { left = l; top = t; right = r; bottom = b; }
    CRect(const RECT& r) : RECT(r) {}
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CSize Size() const { return CSize(Width(), Height()); }
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
};

class CBrush : public CGdiObject {
public:
    CBrush() = default;
    explicit CBrush(COLORREF c) { CreateSolidBrush(c); }
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
    BOOL CreateSolidBrush(COLORREF c) { return Attach(::CreateSolidBrush(c)); }
};

class CBitmap : public CGdiObject {
public:
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
};

class CDC {
public:
    CDC() = default;
    explicit CDC(HDC dc) : m_hDC(dc) {}
    virtual ~CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }

    COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
    COLORREF SetBkColor(COLORREF c) { return ::SetBkColor(m_hDC, c); }
    int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
    HGDIOBJ SelectObject(HGDIOBJ obj) { return ::SelectObject(m_hDC, obj); }
    BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }
    void FillSolidRect(LPCRECT r, COLORREF c) {
        COLORREF old = ::SetBkColor(m_hDC, c);
        ::ExtTextOutW(m_hDC, 0, 0, ETO_OPAQUE, r, nullptr, 0, nullptr);
        ::SetBkColor(m_hDC, old);
    }
    int FillRect(LPCRECT r, HBRUSH b) { return ::FillRect(m_hDC, r, b); }
    int DrawText(LPCWSTR text, int n, LPRECT r, UINT format) { return ::DrawTextW(m_hDC, text, n, r, format); }
    BOOL StretchBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, int sw, int sh, DWORD rop) {
        return ::StretchBlt(m_hDC, x, y, w, h, src->m_hDC, sx, sy, sw, sh, rop);
    }
    BOOL BitBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, DWORD rop) {
        return ::BitBlt(m_hDC, x, y, w, h, src->m_hDC, sx, sy, rop);
    }
    int SetStretchBltMode(int mode) { return ::SetStretchBltMode(m_hDC, mode); }
    BOOL CreateCompatibleDC(CDC* dc) { m_hDC = ::CreateCompatibleDC(dc ? dc->m_hDC : nullptr); m_owned = true; return m_hDC != nullptr; }
    BOOL DeleteDC() { if (!m_hDC || !m_owned) return FALSE; ::DeleteDC(m_hDC); m_hDC = nullptr; return TRUE; }

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

class CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* wnd);
    ~CClientDC() override;

private:
    HWND m_hWnd;
};
