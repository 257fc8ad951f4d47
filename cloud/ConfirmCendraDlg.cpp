#include "cloud/ConfirmCendraDlg.h"
#include "cloud/CendraClient.h"
#include "cloud/DialogLook.h"
#include "cloud/MetadataReader.h"
#include "res/CloudListsResource.h"
#include "ui/LumetraDlg.h"

CConfirmCendraDlg::CConfirmCendraDlg(std::vector<UploadItem> items, CLumetraDlg* mainDlg)
    : CDialogEx(IDD_CONFIRM_CENDRA), m_items(std::move(items)), m_mainDlg(mainDlg) {}

BEGIN_MESSAGE_MAP(CConfirmCendraDlg, CDialogEx)
    ON_WM_ERASEBKGND()
    ON_WM_CTLCOLOR()
    ON_BN_CLICKED(IDOK, &CConfirmCendraDlg::OnBnClickedOk)
END_MESSAGE_MAP()

std::wstring CConfirmCendraDlg::FailureText(const std::vector<UploadItem>& failed, size_t total) {
    std::wstring text = std::to_wstring(failed.size()) + L" of " + std::to_wstring(total) +
                        L" images could not be uploaded:\r\n\r\n";
    for (const UploadItem& item : failed) text += item.fileName + L"\r\n";
    return text;
}

void CConfirmCendraDlg::DoDataExchange(CDataExchange* dx) {
    CDialogEx::DoDataExchange(dx);
    DDX_Control(dx, IDC_CONFIRM_LIST, m_list);
}

BOOL CConfirmCendraDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    SetUpThumbnailList(m_list, m_imageList);
    ListItems(m_list, m_imageList, m_items);
    return TRUE;
}

void CConfirmCendraDlg::OnBnClickedOk() {
    UploadItems(m_items);
    EndDialog(IDOK);
}

void CConfirmCendraDlg::UploadItems(std::vector<UploadItem> items) {
    m_failedItems.clear();
    CendraClient* client = m_mainDlg->m_client;
    bool stalled = false;
    for (const UploadItem& item : items) {
        if (!client || stalled) {
            m_failedItems.push_back(item);
            continue;
        }
        // The details as the .meta file holds them now, not as the capture cached them.
        UploadRecord record{item.index, item.path, item.fileName,
                            ReadMetaFile(m_mainDlg->m_metadataFolder, item.fileName)};
        const UploadOutcome outcome = client->Upload(std::move(record));
        if (outcome == UploadOutcome::TimedOut) stalled = true;
        if (outcome != UploadOutcome::Delivered) m_failedItems.push_back(item);
    }
    if (!m_failedItems.empty())
        ShowMessage(FailureText(m_failedItems, items.size()).c_str(), L"Upload Error", MB_OK | MB_ICONERROR);
}

BOOL CConfirmCendraDlg::OnEraseBkgnd(CDC* dc) { return EraseBackgroundWhite(this, dc); }

HBRUSH CConfirmCendraDlg::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) {
    if (HBRUSH white = CtlColorWhiteIfTransparent(dc, wnd)) return white;
    return CDialogEx::OnCtlColor(dc, wnd, ctlColor);
}
