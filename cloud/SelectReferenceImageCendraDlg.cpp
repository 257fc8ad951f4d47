#include "cloud/SelectReferenceImageCendraDlg.h"
#include "cloud/DialogLook.h"
#include "cloud/MetadataReader.h"
#include "res/CloudListsResource.h"
#include "ui/LumetraDlg.h"

CSelectReferenceImageCendraDlg::CSelectReferenceImageCendraDlg(CLumetraDlg* mainDlg)
    : CDialogEx(IDD_SELECT_REFERENCE), m_mainDlg(mainDlg) {}

BEGIN_MESSAGE_MAP(CSelectReferenceImageCendraDlg, CDialogEx)
    ON_WM_ERASEBKGND()
    ON_WM_CTLCOLOR()
    ON_NOTIFY(LVN_ITEMCHANGED, IDC_REFPICK_LIST, &CSelectReferenceImageCendraDlg::OnLvnItemchangedImageList)
    ON_BN_CLICKED(IDC_REFPICK_OK, &CSelectReferenceImageCendraDlg::OnBnClickedOk)
    ON_BN_CLICKED(IDC_REFPICK_CANCEL, &CSelectReferenceImageCendraDlg::OnBnClickedCancel)
END_MESSAGE_MAP()

void CSelectReferenceImageCendraDlg::DoDataExchange(CDataExchange* dx) {
    CDialogEx::DoDataExchange(dx);
    DDX_Control(dx, IDC_REFPICK_LIST, m_list);
}

BOOL CSelectReferenceImageCendraDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    // The heading is the template's only -1; offline the column stays blank beneath it.
    if (!m_mainDlg->m_online)
        if (CWnd* heading = GetDlgItem(-1)) heading->ShowWindow(SW_HIDE);
    m_items.clear();
    SetUpThumbnailList(m_list, m_imageList);
    // Every file here lies under "ReferenceImages": no path filter.
    m_searchPattern = m_mainDlg->m_imagesFolder + L"\\ReferenceImages\\*.bmp";
    m_items = ListImageFolder(m_list, m_imageList, m_searchPattern, false);
    return TRUE;
}

// Every change of the list, a row losing its selection included: with none selected, row 0.
void CSelectReferenceImageCendraDlg::OnLvnItemchangedImageList(NMHDR*, LRESULT*) {
    const int row = LastSelectedRow(m_list);
    if (!IsRowOf(row, m_items)) return;
    m_currentItem = m_items[static_cast<size_t>(row)];
    if (!m_mainDlg->m_online) return;
    m_currentMetadata = ReadMetaFile(m_mainDlg->m_metadataFolder, m_currentItem.fileName);
    const std::pair<int, const std::wstring*> shown[] = {
        {IDC_REFPICK_FACILITY, &m_currentMetadata.facility},
        {IDC_REFPICK_LOCATION, &m_currentMetadata.location},
        {IDC_REFPICK_ENDOSCOPE_TYPE, &m_currentMetadata.endoscopeType},
        {IDC_REFPICK_SERIAL, &m_currentMetadata.serial},
        {IDC_REFPICK_MODEL, &m_currentMetadata.model},
        {IDC_REFPICK_OPERATOR, &m_currentMetadata.operatorName},
        {IDC_REFPICK_TEST_RESULT, &m_currentMetadata.testResult},
        {IDC_REFPICK_TEST_DATE, &m_currentMetadata.testDate},
        {IDC_REFPICK_TEST_TIME, &m_currentMetadata.testTime},
    };
    for (const auto& [id, text] : shown)
        if (!::GetDlgItem(m_hWnd, id)) return;
    for (const auto& [id, text] : shown) SetDlgItemText(id, ShownText(*text).c_str());
}

void CSelectReferenceImageCendraDlg::OnBnClickedOk() {
    m_result = true;
    EndDialog(0);
}

void CSelectReferenceImageCendraDlg::OnBnClickedCancel() {
    m_result = false;
    EndDialog(0);
}

BOOL CSelectReferenceImageCendraDlg::OnEraseBkgnd(CDC* dc) { return EraseBackgroundWhite(this, dc); }

HBRUSH CSelectReferenceImageCendraDlg::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) {
    if (HBRUSH white = CtlColorWhiteIfTransparent(dc, wnd)) return white;
    return CDialogEx::OnCtlColor(dc, wnd, ctlColor);
}
