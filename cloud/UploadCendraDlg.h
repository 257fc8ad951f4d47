// "Upload to Cendra" (template 139): the still images of the images folder as thumbnails, the
// test details of the highlighted one from its .meta file, marks ("*" after the label) in the
// order the operator sets them, and "Upload Selected", which hands the marked images to the
// confirm dialog that sends them. UI thread only; every row index is checked against m_items.
#pragma once
#include "cloud/Thumbnails.h"
#include "cloud/Upload.h"
#include "framework/Framework.h"
#include "ui/ImageMetadata.h"
#include <string>
#include <vector>

class CLumetraDlg;
class CConfirmCendraDlg;

class CUploadCendraDlg : public CDialogEx {
public:
    explicit CUploadCendraDlg(CLumetraDlg* mainDlg);

    CLumetraDlg* m_mainDlg;  // not owned
    std::wstring m_searchPattern;
    ThumbnailImageList m_imageList;
    std::vector<UploadItem> m_items;          // row r is element r
    std::vector<UploadItem> m_selectedItems;  // the marked rows, in marking order
    UploadItem m_currentItem;
    ImageMetadata m_currentMetadata;
    CListCtrl m_list;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;

    // Seam: the confirm dialog for the marked items; the caller runs and deletes it.
    virtual CConfirmCendraDlg* MakeConfirmDialog(std::vector<UploadItem> items);

    void FillImageList();
    bool IsMarked(int index) const;
    void OnLvnItemchangedImageList(NMHDR* header, LRESULT* result);
    void OnBnClickedSelectForUpload();
    void OnBnClickedUploadSelected();
    BOOL OnEraseBkgnd(CDC* dc);
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);

    DECLARE_MESSAGE_MAP()
};
