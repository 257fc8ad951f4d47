// List-view controls, image lists and the file search.
#pragma once
#include "framework/Controls.h"
#include "framework/Strings.h"
#include <string>

// An image list the object owns; destroyed with it.
class CImageList {
public:
    CImageList() = default;
    virtual ~CImageList() { DeleteImageList(); }
    CImageList(const CImageList&) = delete;
    CImageList& operator=(const CImageList&) = delete;

    operator HIMAGELIST() const { return m_hImageList; }
    HIMAGELIST GetSafeHandle() const { return m_hImageList; }

    // Replaces a list this object holds.
    BOOL Create(int cx, int cy, UINT flags, int initial, int grow) {
        DeleteImageList();
        m_hImageList = ::ImageList_Create(cx, cy, flags, initial, grow);
        return m_hImageList != nullptr;
    }
    // Takes over a list (one held before is destroyed); Detach gives it up without destroying it.
    BOOL Attach(HIMAGELIST list) {
        DeleteImageList();
        m_hImageList = list;
        return list != nullptr;
    }
    HIMAGELIST Detach() {
        HIMAGELIST list = m_hImageList;
        m_hImageList = nullptr;
        return list;
    }
    BOOL DeleteImageList() {
        if (!m_hImageList) return FALSE;
        ::ImageList_Destroy(m_hImageList);
        m_hImageList = nullptr;
        return TRUE;
    }
    // Copies the bitmap (and mask) into the list; the caller keeps its own. -1 on failure.
    int Add(HBITMAP bitmap, HBITMAP mask = nullptr) { return ::ImageList_Add(m_hImageList, bitmap, mask); }
    int GetImageCount() const { return ::ImageList_GetImageCount(m_hImageList); }

    HIMAGELIST m_hImageList = nullptr;
};

class CListCtrl : public CWnd {
public:
    // Without LVS_SHAREIMAGELISTS the control destroys the list it holds when it goes.
    HIMAGELIST SetImageList(CImageList* list, int type) {
        return reinterpret_cast<HIMAGELIST>(
            SendMessage(LVM_SETIMAGELIST, static_cast<WPARAM>(type), reinterpret_cast<LPARAM>(list ? list->m_hImageList : nullptr)));
    }
    int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
    // The row inserted (where the control put it), -1 on failure.
    int InsertItem(UINT mask, int item, LPCWSTR text, UINT state, UINT stateMask, int image, LPARAM lParam) {
        LVITEMW row{};
        row.mask = mask;
        row.iItem = item;
        row.pszText = const_cast<LPWSTR>(text);
        row.state = state;
        row.stateMask = stateMask;
        row.iImage = image;
        row.lParam = lParam;
        return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row)));
    }
    // The next row after `item` (-1: from the start) with the flags (LVNI_SELECTED...), -1 when none.
    int GetNextItem(int item, int flags) const {
        return static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(item), MAKELPARAM(flags, 0)));
    }
    CString GetItemText(int item, int subItem) const {
        // The control copies at most the buffer's size and gives no length: grow until it fits.
        for (int size = 256;; size *= 2) {
            CString text;
            LVITEMW row{};
            row.iSubItem = subItem;
            row.cchTextMax = size;
            row.pszText = text.GetBufferSetLength(size);
            int n = static_cast<int>(SendMessage(LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&row)));
            if (n < size - 1 || size >= (1 << 20)) {
                text.ReleaseBuffer(n);
                return text;
            }
        }
    }
    BOOL SetItemText(int item, int subItem, LPCWSTR text) {
        LVITEMW row{};
        row.iSubItem = subItem;
        row.pszText = const_cast<LPWSTR>(text);
        return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&row)));
    }
};

// The file search over one pattern ("C:\folder\*.bmp"). Call FindNextFile before reading the
// first match; it returns FALSE on the last one (which is then readable).
class CFileFind {
public:
    CFileFind() = default;
    ~CFileFind() { Close(); }
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;

    // FALSE when nothing matches (a missing folder included).
    BOOL FindFile(LPCWSTR pattern) {
        Close();
        m_root = pattern ? pattern : L"*.*";
        const size_t slash = m_root.find_last_of(L"\\/");
        m_root = slash == std::wstring::npos ? std::wstring() : m_root.substr(0, slash + 1);
        m_find = ::FindFirstFileW(pattern ? pattern : L"*.*", &m_next);
        m_hasNext = m_find != INVALID_HANDLE_VALUE;
        return m_hasNext;
    }
    BOOL FindNextFile() {
        if (!m_hasNext) return FALSE;
        m_current = m_next;
        m_hasCurrent = true;
        m_hasNext = ::FindNextFileW(m_find, &m_next) != FALSE;
        return m_hasNext;
    }
    void Close() {
        if (m_find != INVALID_HANDLE_VALUE) ::FindClose(m_find);
        m_find = INVALID_HANDLE_VALUE;
        m_hasNext = m_hasCurrent = false;
    }

    // The folder part of the pattern followed by the match's name.
    CString GetFilePath() const { return CString(m_root + GetFileName().str()); }
    CString GetFileName() const { return m_hasCurrent ? CString(m_current.cFileName) : CString(); }
    BOOL IsDirectory() const { return m_hasCurrent && (m_current.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY); }
    BOOL IsDots() const {
        if (!IsDirectory()) return FALSE;
        const wchar_t* n = m_current.cFileName;
        return n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0));
    }

private:
    HANDLE m_find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW m_next{}, m_current{};
    bool m_hasNext = false, m_hasCurrent = false;
    std::wstring m_root;
};
