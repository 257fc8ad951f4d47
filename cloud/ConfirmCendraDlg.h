// "Confirm Upload" (template 140): the marked images as thumbnails (the last marked first) and,
// on "Upload" or Enter, every one sent in marking order with the details its .meta file holds at
// that moment. A failure does not stop the loop, but a time-out does: the service has stalled, and
// each further image would hold the UI thread as long again. Every image not uploaded, failed or
// not tried, is listed in one box afterwards and kept in m_failedItems for the caller. Ends with
// IDOK after sending, IDCANCEL when nothing was sent. The requests run synchronously on the UI
// thread. Nothing local changes: files, marks and .meta stay as they are, uploaded or not.
#pragma once
#include "cloud/Thumbnails.h"
#include "cloud/Upload.h"
#include "framework/Framework.h"
#include <string>
#include <vector>

class CLumetraDlg;

class CConfirmCendraDlg : public CDialogEx {
public:
    CConfirmCendraDlg(std::vector<UploadItem> items, CLumetraDlg* mainDlg);

    // "<k> of <n> images could not be uploaded:\r\n\r\n" and each name followed by "\r\n".
    static std::wstring FailureText(const std::vector<UploadItem>& failed, size_t total);

    std::vector<UploadItem> m_items;
    CLumetraDlg* m_mainDlg;  // not owned; its m_client sends
    ThumbnailImageList m_imageList;
    CListCtrl m_list;
    std::vector<UploadItem> m_failedItems;  // not uploaded by the last UploadItems, in marking order

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;

    // Every message box of the dialog.
    virtual int ShowMessage(const wchar_t* text, const wchar_t* caption, UINT type) {
        return MessageBox(text, caption, type);
    }

    void OnBnClickedOk();
    // Sends each item in order until one times out; without a client every item counts as failed.
    void UploadItems(std::vector<UploadItem> items);
    BOOL OnEraseBkgnd(CDC* dc);
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);

    DECLARE_MESSAGE_MAP()
};
