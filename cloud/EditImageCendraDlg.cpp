#include "cloud/EditImageCendraDlg.h"
#include "cloud/DialogLook.h"
#include "cloud/EditImageDetailsCendraDlg.h"
#include "cloud/MetadataReader.h"
#include "res/CloudListsResource.h"
#include "ui/LumetraDlg.h"
#include <memory>

CEditImageCendraDlg::CEditImageCendraDlg(CLumetraDlg* mainDlg) : CDialogEx(IDD_EDIT_IMAGE_CENDRA), m_mainDlg(mainDlg) {}

BEGIN_MESSAGE_MAP(CEditImageCendraDlg, CDialogEx)
    ON_WM_ERASEBKGND()
    ON_WM_CTLCOLOR()
    ON_NOTIFY(LVN_ITEMCHANGED, IDC_EDITIMAGES_LIST, &CEditImageCendraDlg::OnLvnItemchangedImageList)
    ON_BN_CLICKED(IDC_EDITIMAGES_DETAILS, &CEditImageCendraDlg::OnBnClickedEditImageDetails)
END_MESSAGE_MAP()

void CEditImageCendraDlg::DoDataExchange(CDataExchange* dx) {
    CDialogEx::DoDataExchange(dx);
    DDX_Control(dx, IDC_EDITIMAGES_LIST, m_list);
}

BOOL CEditImageCendraDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    m_items.clear();
    SetUpThumbnailList(m_list, m_imageList);
    m_searchPattern = m_mainDlg->m_imagesFolder + L"\\*.bmp";
    m_items = ListImageFolder(m_list, m_imageList, m_searchPattern, true);
    return TRUE;
}

// Every change of the list, a row losing its selection included: with none selected, row 0.
void CEditImageCendraDlg::OnLvnItemchangedImageList(NMHDR*, LRESULT*) {
    const int row = LastSelectedRow(m_list);
    if (!IsRowOf(row, m_items)) return;
    m_selectedIndex = row;
    ShowImageDetails(row);
}

void CEditImageCendraDlg::ShowImageDetails(int row) {
    if (!IsRowOf(row, m_items)) return;
    m_currentItem = m_items[static_cast<size_t>(row)];
    m_currentMetadata = ReadMetaFile(m_mainDlg->m_metadataFolder, m_currentItem.fileName);
    // 1031 stays an empty line of the column.
    const std::pair<int, const std::wstring*> shown[] = {
        {IDC_EDITIMAGES_FACILITY, &m_currentMetadata.facility},
        {IDC_EDITIMAGES_LOCATION, &m_currentMetadata.location},
        {IDC_EDITIMAGES_ENDOSCOPE_TYPE, &m_currentMetadata.endoscopeType},
        {IDC_EDITIMAGES_SERIAL, &m_currentMetadata.serial},
        {IDC_EDITIMAGES_MODEL, &m_currentMetadata.model},
        {IDC_EDITIMAGES_OPERATOR, &m_currentMetadata.operatorName},
        {IDC_EDITIMAGES_TEST_RESULT, &m_currentMetadata.testResult},
        {IDC_EDITIMAGES_TEST_DATE, &m_currentMetadata.testDate},
        {IDC_EDITIMAGES_TEST_TIME, &m_currentMetadata.testTime},
    };
    for (const auto& [id, text] : shown)
        if (!::GetDlgItem(m_hWnd, id)) return;
    for (const auto& [id, text] : shown) SetDlgItemText(id, ShownText(*text).c_str());
}

void CEditImageCendraDlg::EditDetails(const ImageMetadata& metadata, const UploadItem& item) {
    auto details = std::make_unique<CEditImageDetailsCendraDlg>(m_mainDlg, metadata, item);
    details->DoModal();
}

void CEditImageCendraDlg::OnBnClickedEditImageDetails() {
    // Until a row was shown there is no image to edit (and no .meta name to save under).
    if (m_currentItem.fileName.empty()) return;
    EditDetails(m_currentMetadata, m_currentItem);
    ShowImageDetails(m_selectedIndex);
}

BOOL CEditImageCendraDlg::OnEraseBkgnd(CDC* dc) { return EraseBackgroundWhite(this, dc); }

HBRUSH CEditImageCendraDlg::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) {
    if (HBRUSH white = CtlColorWhiteIfTransparent(dc, wnd)) return white;
    return CDialogEx::OnCtlColor(dc, wnd, ctlColor);
}
