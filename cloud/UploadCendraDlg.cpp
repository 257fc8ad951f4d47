#include "cloud/UploadCendraDlg.h"
#include "cloud/ConfirmCendraDlg.h"
#include "cloud/DialogLook.h"
#include "cloud/MetadataReader.h"
#include "res/CloudListsResource.h"
#include "ui/LumetraDlg.h"
#include <algorithm>
#include <memory>

namespace {
constexpr wchar_t kMarkText[] = L"Select for Upload";
constexpr wchar_t kUnmarkText[] = L"Deselect for Upload";
}

CUploadCendraDlg::CUploadCendraDlg(CLumetraDlg* mainDlg) : CDialogEx(IDD_UPLOAD_CENDRA), m_mainDlg(mainDlg) {}

BEGIN_MESSAGE_MAP(CUploadCendraDlg, CDialogEx)
    ON_WM_ERASEBKGND()
    ON_WM_CTLCOLOR()
    ON_BN_CLICKED(IDC_UPLOAD_MARK, &CUploadCendraDlg::OnBnClickedSelectForUpload)
    ON_BN_CLICKED(IDC_UPLOAD_SELECTED, &CUploadCendraDlg::OnBnClickedUploadSelected)
    ON_NOTIFY(LVN_ITEMCHANGED, IDC_UPLOAD_LIST, &CUploadCendraDlg::OnLvnItemchangedImageList)
END_MESSAGE_MAP()

void CUploadCendraDlg::DoDataExchange(CDataExchange* dx) {
    CDialogEx::DoDataExchange(dx);
    DDX_Control(dx, IDC_UPLOAD_LIST, m_list);
}

BOOL CUploadCendraDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    if (CWnd* upload = GetDlgItem(IDC_UPLOAD_SELECTED)) upload->EnableWindow(FALSE);
    FillImageList();
    return TRUE;
}

CConfirmCendraDlg* CUploadCendraDlg::MakeConfirmDialog(std::vector<UploadItem> items) {
    return new CConfirmCendraDlg(std::move(items), m_mainDlg);
}

void CUploadCendraDlg::FillImageList() {
    SetUpThumbnailList(m_list, m_imageList);
    m_searchPattern = m_mainDlg->m_imagesFolder + L"\\*.bmp";
    m_items = ListImageFolder(m_list, m_imageList, m_searchPattern, true);
    for (int id : {IDC_UPLOAD_FACILITY, IDC_UPLOAD_LOCATION, IDC_UPLOAD_ENDOSCOPE_TYPE, IDC_UPLOAD_SERIAL,
                   IDC_UPLOAD_MODEL, IDC_UPLOAD_OPERATOR, IDC_UPLOAD_TEST_RESULT, IDC_UPLOAD_TEST_DATE,
                   IDC_UPLOAD_TEST_TIME})
        SetDlgItemText(id, L"");
}

bool CUploadCendraDlg::IsMarked(int index) const {
    return std::any_of(m_selectedItems.begin(), m_selectedItems.end(),
                       [index](const UploadItem& marked) { return marked.index == index; });
}

// Every change of the list, a row losing its selection included: with none selected, row 0.
void CUploadCendraDlg::OnLvnItemchangedImageList(NMHDR*, LRESULT*) {
    const int row = LastSelectedRow(m_list);
    if (!IsRowOf(row, m_items)) return;
    m_currentItem = m_items[static_cast<size_t>(row)];
    m_currentMetadata = ReadMetaFile(m_mainDlg->m_metadataFolder, m_currentItem.fileName);
    const ImageMetadata& m = m_currentMetadata;
    SetDlgItemText(IDC_UPLOAD_FACILITY, ShownText(m.facility).c_str());
    SetDlgItemText(IDC_UPLOAD_LOCATION, ShownText(m.location).c_str());
    SetDlgItemText(IDC_UPLOAD_ENDOSCOPE_TYPE, ShownText(m.endoscopeType).c_str());
    SetDlgItemText(IDC_UPLOAD_SERIAL, ShownText(m.serial).c_str());
    SetDlgItemText(IDC_UPLOAD_MODEL, ShownText(m.model).c_str());
    SetDlgItemText(IDC_UPLOAD_OPERATOR, ShownText(m.operatorName).c_str());
    SetDlgItemText(IDC_UPLOAD_TEST_RESULT, ShownText(m.testResult).c_str());
    SetDlgItemText(IDC_UPLOAD_TEST_DATE, ShownText(m.testDate).c_str());
    SetDlgItemText(IDC_UPLOAD_TEST_TIME, ShownText(m.testTime).c_str());
    SetDlgItemText(IDC_UPLOAD_MARK, IsMarked(m_items[static_cast<size_t>(row)].index) ? kUnmarkText : kMarkText);
}

void CUploadCendraDlg::OnBnClickedSelectForUpload() {
    // Setting a label raises LVN_ITEMCHANGED, which rewrites the button; the text set after it stands.
    for (int row = m_list.GetNextItem(-1, LVNI_SELECTED); row >= 0; row = m_list.GetNextItem(row, LVNI_SELECTED)) {
        if (!IsRowOf(row, m_items)) continue;
        const UploadItem item = m_items[static_cast<size_t>(row)];
        auto marked = std::find_if(m_selectedItems.begin(), m_selectedItems.end(),
                                   [&item](const UploadItem& m) { return m.index == item.index; });
        CString label = m_list.GetItemText(row, 0);
        if (marked != m_selectedItems.end()) {
            m_selectedItems.erase(marked);
            label.Replace(L"*", L"");
            m_list.SetItemText(row, 0, label);
            SetDlgItemText(IDC_UPLOAD_MARK, kMarkText);
        } else {
            m_list.SetItemText(row, 0, label + L"*");
            m_selectedItems.push_back(item);
            SetDlgItemText(IDC_UPLOAD_MARK, kUnmarkText);
        }
    }
    CWnd* upload = GetDlgItem(IDC_UPLOAD_SELECTED);
    if (m_selectedItems.empty()) {
        if (upload) upload->EnableWindow(FALSE);
        SetDlgItemText(IDC_UPLOAD_MARK, kMarkText);
    } else if (upload) {
        upload->EnableWindow(TRUE);
    }
}

void CUploadCendraDlg::OnBnClickedUploadSelected() {
    if (m_selectedItems.empty()) return;  // the button is disabled then; a stray command sends nothing
    std::unique_ptr<CConfirmCendraDlg> confirm(MakeConfirmDialog(m_selectedItems));
    if (!confirm || confirm->DoModal() != IDOK) return;  // cancelled: marks and labels stay
    const bool allSent = confirm->m_failedItems.empty();
    confirm.reset();
    if (allSent) m_mainDlg->ShowNotice(L"Uploading to cloud...");
    EndDialog(0);
}

BOOL CUploadCendraDlg::OnEraseBkgnd(CDC* dc) { return EraseBackgroundWhite(this, dc); }

HBRUSH CUploadCendraDlg::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) {
    if (HBRUSH white = CtlColorWhiteIfTransparent(dc, wnd)) return white;
    return CDialogEx::OnCtlColor(dc, wnd, ctlColor);
}
