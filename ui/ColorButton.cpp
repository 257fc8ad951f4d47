#include "ui/ColorButton.h"
#include <vector>

namespace {
constexpr COLORREF kGrey = RGB(128, 128, 128);
constexpr COLORREF kWhite = RGB(255, 255, 255);
}

void CColorButton::SetColors(COLORREF text, COLORREF background) {
    textColor = text;
    backgroundColor = background;
    if (m_hWnd && ::IsWindow(m_hWnd)) Invalidate(TRUE);
}

void CColorButton::ResetColors() {
    textColor = ::GetSysColor(COLOR_BTNTEXT);
    backgroundColor = ::GetSysColor(COLOR_BTNFACE);
    disabledColor = ::GetSysColor(COLOR_BTNFACE);
}

void CColorButton::DrawItem(LPDRAWITEMSTRUCT item) {
    CDC dc(item->hDC);
    const CRect r = item->rcItem;
    const UINT state = item->itemState;
    CString caption;
    GetWindowText(caption);

    // The button control selects its font before asking us to draw, but that is not documented:
    // select it here so the caption is always in the button's (the dialog's) font.
    CFont* font = GetFont();
    HGDIOBJ oldFont = font ? dc.SelectObject(*font) : nullptr;

    DrawFilledRect(&dc, r, (state & ODS_DISABLED) ? disabledColor : backgroundColor);
    DrawFrame(&dc, r);
    CRect shifted(r.left - 1, r.top - 1, r.right - 1, r.bottom - 1);
    if (state & ODS_DISABLED) {
        DrawButtonText(&dc, r, caption, kWhite);
        DrawButtonText(&dc, shifted, caption, kGrey);
    } else if (state & ODS_SELECTED) {
        DrawButtonText(&dc, r, caption, textColor);
    } else {
        DrawButtonText(&dc, shifted, caption, textColor);  // moves by a pixel when pressed
    }

    if (oldFont) dc.SelectObject(oldFont);
}

void CColorButton::DrawFilledRect(CDC* dc, const CRect& r, COLORREF color) {
    CBrush brush(color);
    dc->FillRect(r, &brush);
}

void CColorButton::DrawLine(CDC* dc, int x1, int y1, int x2, int y2, COLORREF color) {
    CPen pen(PS_SOLID, 1, color);
    HGDIOBJ old = dc->SelectObject(pen);
    dc->MoveTo(x1, y1);
    dc->LineTo(x2, y2);
    dc->SelectObject(old);
}

void CColorButton::DrawFrame(CDC* dc, const CRect& r) {
    // LineTo leaves out the end point, so the right and bottom lines sit one pixel inside.
    DrawLine(dc, r.left, r.top, r.right, r.top, kGrey);
    DrawLine(dc, r.left, r.top, r.left, r.bottom, kGrey);
    DrawLine(dc, r.left, r.bottom - 1, r.right, r.bottom - 1, kGrey);
    DrawLine(dc, r.right - 1, r.top, r.right - 1, r.bottom, kGrey);
}

void CColorButton::DrawButtonText(CDC* dc, const CRect& q, const CString& text, COLORREF color) {
    const DWORD style = GetStyle();

    std::vector<CString> lines;
    if (style & BS_MULTILINE) {
        int start = 0;
        for (int lf; (lf = text.Find(L'\n', start)) >= 0; start = lf + 1) lines.push_back(text.Mid(start, lf - start));
        lines.push_back(text.Mid(start));  // after the last line feed, possibly empty
    } else {
        lines.push_back(text);
    }
    const int n = static_cast<int>(lines.size());
    const int h = dc->GetTextExtent(lines.back(), lines.back().GetLength()).cy;

    const COLORREF oldColor = dc->SetTextColor(color);
    dc->SetBkMode(TRANSPARENT);

    // Centred from 0, not from q.top: a caption moved up by a pixel stays where it was vertically.
    int y = (q.bottom - q.top - n * h) / 2 - 1;
    switch (style & BS_VCENTER) {
    case BS_TOP: y = q.top + 2; break;
    case BS_BOTTOM: y = q.bottom - n * h - 2; break;
    default: break;
    }
    UINT format;
    switch (style & BS_CENTER) {
    case BS_CENTER: format = DT_CENTER; break;
    case BS_LEFT: format = DT_LEFT; break;
    case BS_RIGHT: format = DT_RIGHT; break;
    default: format = DT_CENTER | DT_VCENTER | DT_SINGLELINE; break;
    }
    for (int i = 0; i < n; ++i) {
        CRect line(q.left + 3, y + i * h, q.right - 3, y + (i + 1) * h);
        dc->DrawText(lines[i], lines[i].GetLength(), line, format);
    }
    dc->SetTextColor(oldColor);
}
