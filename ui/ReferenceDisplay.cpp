#include "ui/ReferenceDisplay.h"
#include "ui/Dib.h"

BEGIN_MESSAGE_MAP(CReferenceDisplay, CStatic)
    ON_WM_PAINT()
END_MESSAGE_MAP()

CReferenceDisplay::~CReferenceDisplay() {
    if (bitmap) ::DeleteObject(bitmap);
}

void CReferenceDisplay::SetImage(HBITMAP image, int imageWidth, int imageHeight) {
    // Our own copy, so the caller may release its bitmap at once.
    HBITMAP copy = image ? static_cast<HBITMAP>(::CopyImage(image, IMAGE_BITMAP, 0, 0, LR_DEFAULTSIZE)) : nullptr;
    if (bitmap) ::DeleteObject(bitmap);
    bitmap = copy;
    width = imageWidth;
    height = imageHeight;
}

void CReferenceDisplay::OnPaint() {
    CPaintDC dc(this);
    ::ValidateRect(m_hWnd, nullptr);
    CRect client;
    GetClientRect(&client);

    if (!bitmap) {
        // Black at the stored size; it stays until the next SetImage. At 0 x 0 creation fails and
        // the next paint tries again.
        const BITMAPINFO info = DibInfo(width, height, 32);
        void* bits = nullptr;
        bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    }

    CDC memory;
    memory.CreateCompatibleDC(&dc);
    HGDIOBJ oldBitmap = bitmap ? memory.SelectObject(bitmap) : nullptr;
    dc.SetStretchBltMode(HALFTONE);
    // Every paint covers the whole control: the control erases no background, so whatever a
    // paint leaves out keeps the previous picture. Nothing to stretch (no size yet, or an image
    // that could not be loaded) shows the black of a cleared view.
    const bool stretched =
        bitmap && dc.StretchBlt(0, 0, client.right, client.bottom, &memory, 0, 0, width, height, SRCCOPY);
    if (!stretched) ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));

    CPen pen(PS_SOLID, 1, RGB(15, 0, 0));
    HGDIOBJ oldPen = dc.SelectObject(pen);
    HGDIOBJ oldBrush = dc.SelectStockObject(NULL_BRUSH);
    dc.Rectangle(0, 0, client.right, client.bottom);
    // The pen must be out of the DC before it is deleted.
    dc.SelectObject(oldBrush);
    dc.SelectObject(oldPen);
    if (oldBitmap) memory.SelectObject(oldBitmap);
}
