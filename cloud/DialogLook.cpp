#include "cloud/DialogLook.h"

BOOL EraseBackgroundWhite(CWnd* wnd, CDC* dc) {
    CRect client;
    wnd->GetClientRect(&client);
    CBrush white(RGB(255, 255, 255));
    dc->FillRect(&client, &white);
    return TRUE;
}

HBRUSH CtlColorWhiteIfTransparent(CDC* dc, CWnd* control) {
    if (!control || !control->m_hWnd || !(control->GetExStyle() & WS_EX_TRANSPARENT)) return nullptr;
    dc->SetBkColor(RGB(255, 255, 255));
    return static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
}
