// The white look the main dialog and the cloud dialogs share.
#pragma once
#include "framework/Framework.h"

// Background erase: the client area white. Returns TRUE (erased).
BOOL EraseBackgroundWhite(CWnd* wnd, CDC* dc);

// Control colours of the cloud dialogs: a control with WS_EX_TRANSPARENT stands on white (the
// context's background white, the stock white brush). Null for any other control (or none): the
// dialog then gives the class library's default answer, as in
//     if (HBRUSH white = CtlColorWhiteIfTransparent(dc, wnd)) return white;
//     return CDialogEx::OnCtlColor(dc, wnd, ctlColor);
HBRUSH CtlColorWhiteIfTransparent(CDC* dc, CWnd* control);
