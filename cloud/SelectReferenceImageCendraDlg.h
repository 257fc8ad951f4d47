// "Select Reference Image" (template 142): the images of the reference folder as thumbnails and,
// online, the test details of the selected one from its .meta file. The caller reads m_result
// (true after "OK" only) and m_currentItem's file name once DoModal has returned. Writes nothing.
// UI thread only; every row index is checked against m_items.
#pragma once
#include "cloud/Thumbnails.h"
#include "cloud/Upload.h"
#include "framework/Framework.h"
#include "ui/ImageMetadata.h"
#include <string>
#include <vector>

class CLumetraDlg;

class CSelectReferenceImageCendraDlg : public CDialogEx {
public:
    explicit CSelectReferenceImageCendraDlg(CLumetraDlg* mainDlg);

    CLumetraDlg* m_mainDlg;  // not owned
    ThumbnailImageList m_imageList;
    std::vector<UploadItem> m_items;  // row r is element r
    std::wstring m_searchPattern;
    ImageMetadata m_currentMetadata;
    UploadItem m_currentItem;  // the last reported selection; no file name until then
    bool m_result = false;
    CListCtrl m_list;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;

    void OnLvnItemchangedImageList(NMHDR* header, LRESULT* result);
    void OnBnClickedOk();
    void OnBnClickedCancel();
    BOOL OnEraseBkgnd(CDC* dc);
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);

    DECLARE_MESSAGE_MAP()
};
