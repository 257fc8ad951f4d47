// An owner-drawn push button with run-time colours: a flat face, a grey frame, and a caption that
// follows the button's multi-line and alignment styles.
#pragma once
#include "framework/Framework.h"

class CColorButton : public CButton {
public:
    CColorButton() { ResetColors(); }

    // Repaints when the window exists; the disabled fill stays.
    void SetColors(COLORREF text, COLORREF background);
    // System colours; no repaint.
    void ResetColors();
    void DrawItem(LPDRAWITEMSTRUCT item) override;

    COLORREF textColor;
    COLORREF backgroundColor;
    COLORREF disabledColor;

protected:
    void DrawFilledRect(CDC* dc, const CRect& r, COLORREF color);
    void DrawLine(CDC* dc, int x1, int y1, int x2, int y2, COLORREF color);
    void DrawFrame(CDC* dc, const CRect& r);
    void DrawButtonText(CDC* dc, const CRect& r, const CString& text, COLORREF color);
};
