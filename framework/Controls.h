// Common controls as thin wrappers over their messages.
#pragma once
#include "framework/Window.h"
#include <commctrl.h>

class CStatic : public CWnd {
public:
    HBITMAP SetBitmap(HBITMAP bmp) {
        return reinterpret_cast<HBITMAP>(SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bmp)));
    }
    HBITMAP GetBitmap() const { return reinterpret_cast<HBITMAP>(SendMessage(STM_GETIMAGE, IMAGE_BITMAP)); }
};

class CButton : public CWnd {
public:
    int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
    void SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
    UINT GetState() const { return static_cast<UINT>(SendMessage(BM_GETSTATE)); }
    UINT GetButtonStyle() const { return GetStyle() & 0xFFFF; }
    // Owner-drawn buttons draw themselves here; the parent reflects WM_DRAWITEM to it.
    virtual void DrawItem(LPDRAWITEMSTRUCT) {}

protected:
    BOOL OnChildNotify(UINT msg, WPARAM w, LPARAM l, LRESULT* result) override {
        if (msg != WM_DRAWITEM) return FALSE;
        DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(l));
        *result = TRUE;
        return TRUE;
    }
};

class CEdit : public CWnd {
public:
    void SetSel(int start, int end, BOOL noScroll = FALSE) {
        SendMessage(EM_SETSEL, static_cast<WPARAM>(start), end);
        if (!noScroll) SendMessage(EM_SCROLLCARET);
    }
    void ReplaceSel(LPCWSTR text, BOOL canUndo = FALSE) { SendMessage(EM_REPLACESEL, canUndo, reinterpret_cast<LPARAM>(text)); }
    void SetReadOnly(BOOL readOnly = TRUE) { SendMessage(EM_SETREADONLY, readOnly); }
    void SetLimitText(UINT max) { SendMessage(EM_SETLIMITTEXT, max); }
    BOOL SetCueBanner(LPCWSTR text, BOOL showWhenFocused = FALSE) {
        return static_cast<BOOL>(SendMessage(EM_SETCUEBANNER, showWhenFocused, reinterpret_cast<LPARAM>(text)));
    }
};

class CComboBox : public CWnd {
public:
    int GetCount() const { return static_cast<int>(SendMessage(CB_GETCOUNT)); }
    int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
    int SetCurSel(int index) { return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index))); }
    int AddString(LPCWSTR text) { return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text))); }
    int InsertString(int index, LPCWSTR text) {
        return static_cast<int>(SendMessage(CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
    }
    int DeleteString(UINT index) { return static_cast<int>(SendMessage(CB_DELETESTRING, index)); }
    void ResetContent() { SendMessage(CB_RESETCONTENT); }
    int FindStringExact(int start, LPCWSTR text) const {
        return static_cast<int>(SendMessage(CB_FINDSTRINGEXACT, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(text)));
    }
    int GetLBTextLen(int index) const { return static_cast<int>(SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(index))); }
    void GetLBText(int index, CString& text) const {
        int n = GetLBTextLen(index);
        if (n < 0) { text.Empty(); return; }
        wchar_t* buf = text.GetBufferSetLength(n + 1);
        SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buf));
        text.ReleaseBuffer(n);
    }
    DWORD_PTR GetItemData(int index) const { return static_cast<DWORD_PTR>(SendMessage(CB_GETITEMDATA, static_cast<WPARAM>(index))); }
    int SetItemData(int index, DWORD_PTR data) {
        return static_cast<int>(SendMessage(CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data)));
    }
    void* GetItemDataPtr(int index) const { return reinterpret_cast<void*>(GetItemData(index)); }
    int SetItemDataPtr(int index, void* p) { return SetItemData(index, reinterpret_cast<DWORD_PTR>(p)); }
    // Wine ignores combo-box cue banners; on Windows they show in an empty drop-down list.
    BOOL SetCueBanner(LPCWSTR text) { return static_cast<BOOL>(SendMessage(CB_SETCUEBANNER, 0, reinterpret_cast<LPARAM>(text))); }
    int SetMinVisibleItems(int n) { return static_cast<int>(SendMessage(CB_SETMINVISIBLE, static_cast<WPARAM>(n))); }
};
