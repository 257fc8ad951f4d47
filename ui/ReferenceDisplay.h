// The reference view: its own copy of one bitmap, stretched over the control with a thin frame.
// Each paint covers the whole control (black without a picture), so nothing of an earlier one stays.
#pragma once
#include "framework/Framework.h"

class CReferenceDisplay : public CStatic {
public:
    CReferenceDisplay() = default;
    ~CReferenceDisplay() override;

    // Keeps a copy of bitmap (null: none; the next paint shows black, as a bitmap of width x
    // height that stays, or at 0 x 0 a fill). Does not repaint.
    void SetImage(HBITMAP image, int imageWidth, int imageHeight);

    HBITMAP bitmap = nullptr;
    int width = 0;
    int height = 0;

protected:
    void OnPaint();
    DECLARE_MESSAGE_MAP()
};
