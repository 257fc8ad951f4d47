// List boxes.
#pragma once
#include "framework/Controls.h"

class CListBox : public CWnd {
public:
    // LB_ERR when no row is selected.
    int GetCurSel() const { return static_cast<int>(SendMessage(LB_GETCURSEL)); }
    // The row's index, which a sorted list chooses; LB_ERR or LB_ERRSPACE when nothing was added.
    int AddString(LPCWSTR text) {
        return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
    }
    void ResetContent() { SendMessage(LB_RESETCONTENT); }
    // LB_ERR (-1) for a row that does not exist.
    DWORD_PTR GetItemData(int index) const {
        return static_cast<DWORD_PTR>(SendMessage(LB_GETITEMDATA, static_cast<WPARAM>(index)));
    }
    int SetItemData(int index, DWORD_PTR data) {
        return static_cast<int>(SendMessage(LB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data)));
    }
    int SetItemDataPtr(int index, void* p) { return SetItemData(index, reinterpret_cast<DWORD_PTR>(p)); }
    // Multi-column lists: the width of every column, in pixels.
    void SetColumnWidth(int width) { SendMessage(LB_SETCOLUMNWIDTH, static_cast<WPARAM>(width)); }
};
