// "Edit Images" (template 141): the still images of the images folder as thumbnails, the test
// details of the selected one read from its .meta file, and "Edit Image Details", which opens the
// image-details dialog on it and shows the file's details again when that closes. Writes nothing
// itself. UI thread only; every row index is checked against m_items.
#pragma once
#include "cloud/Thumbnails.h"
#include "cloud/Upload.h"
#include "framework/Framework.h"
#include "ui/ImageMetadata.h"
#include <cstdint>
#include <string>
#include <vector>

class CLumetraDlg;

class CEditImageCendraDlg : public CDialogEx {
public:
    explicit CEditImageCendraDlg(CLumetraDlg* mainDlg);

    CLumetraDlg* m_mainDlg;  // not owned
    std::wstring m_searchPattern;
    ThumbnailImageList m_imageList;
    std::vector<UploadItem> m_items;  // row r is element r
    UploadItem m_currentItem;         // no file name until a row was shown
    ImageMetadata m_currentMetadata;
    std::int32_t m_selectedIndex = 0;
    CListCtrl m_list;

    // Makes the row's entry current and shows its details; nothing for a row m_items lacks.
    void ShowImageDetails(int row);

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;

    // Seam: runs the image-details dialog on the current image.
    virtual void EditDetails(const ImageMetadata& metadata, const UploadItem& item);

    void OnLvnItemchangedImageList(NMHDR* header, LRESULT* result);
    void OnBnClickedEditImageDetails();
    BOOL OnEraseBkgnd(CDC* dc);
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);

    DECLARE_MESSAGE_MAP()
};
