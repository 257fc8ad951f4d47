// Tab controls.
#pragma once
#include "framework/Controls.h"

class CTabCtrl : public CWnd {
public:
    // A tab with text only; the index it got, -1 on failure.
    LONG InsertItem(int item, LPCWSTR text) {
        TCITEMW tab{};
        tab.mask = TCIF_TEXT;
        tab.pszText = const_cast<LPWSTR>(text);
        return static_cast<LONG>(SendMessage(TCM_INSERTITEMW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&tab)));
    }
    int GetCurSel() const { return static_cast<int>(SendMessage(TCM_GETCURSEL)); }
    int GetItemCount() const { return static_cast<int>(SendMessage(TCM_GETITEMCOUNT)); }
};
