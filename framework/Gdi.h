// Thin GDI wrappers: rectangles, device contexts, fonts and brushes.
#pragma once
#include <windows.h>

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
};

class CBrush : public CGdiObject {
public:
    CBrush() = default;
    explicit CBrush(COLORREF c) { CreateSolidBrush(c); }
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
    BOOL CreateSolidBrush(COLORREF c) { return Attach(::CreateSolidBrush(c)); }
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

    HDC m_hDC = nullptr;
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
