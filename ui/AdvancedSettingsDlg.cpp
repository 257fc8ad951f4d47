#include "ui/AdvancedSettingsDlg.h"
#include <algorithm>
#include "res/SettingsResource.h"
#include "ui/ImageMetadata.h"
#include "video/CompositeVideoSourceProvider.h"

namespace {

VideoSource* SelectedSource(const CListBox& list) {
    if (!list.m_hWnd) return nullptr;
    int row = list.GetCurSel();
    if (row < 0) return nullptr;
    DWORD_PTR data = list.GetItemData(row);
    return data == static_cast<DWORD_PTR>(LB_ERR) ? nullptr : reinterpret_cast<VideoSource*>(data);
}

}  // namespace

CAdvancedSettingsDlg::CAdvancedSettingsDlg(CompositeVideoSourceProvider* provider,
                                           std::vector<ExcludedCamera>* exclusions, CWnd* parent)
    : CDialogEx(IDD_ADVANCED_SETTINGS_DIALOG, parent), m_exclusionList(exclusions), m_provider(provider) {}

BEGIN_MESSAGE_MAP(CAdvancedSettingsDlg, CDialogEx)
    ON_BN_CLICKED(IDC_ADD_EXCLUSION, &CAdvancedSettingsDlg::OnAddExclusion)
    ON_BN_CLICKED(IDC_REMOVE_EXCLUSION, &CAdvancedSettingsDlg::OnRemoveExclusion)
    ON_BN_CLICKED(IDC_CLEAR_EXCLUSIONS, &CAdvancedSettingsDlg::OnClearExclusions)
END_MESSAGE_MAP()

void CAdvancedSettingsDlg::DoDataExchange(CDataExchange* dx) {
    CDialogEx::DoDataExchange(dx);
    DDX_Control(dx, IDC_DETECTED_CAMERAS, m_detectedList);
    DDX_Control(dx, IDC_EXCLUDED_CAMERAS, m_excludedList);
}

BOOL CAdvancedSettingsDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    // The detected list has several columns; one as wide as the list shows whole names.
    if (m_detectedList.m_hWnd) {
        RECT client;
        m_detectedList.GetClientRect(&client);
        m_detectedList.SetColumnWidth(client.right);
    }
    RefreshCameraLists(m_provider);
    return TRUE;
}

void CAdvancedSettingsDlg::RefreshCameraLists(VideoSourceProvider* provider) {
    if (!m_detectedList.m_hWnd) return;
    m_detectedList.ResetContent();
    if (!m_excludedList.m_hWnd) return;
    m_excludedList.ResetContent();
    if (!provider) return;
    const std::vector<VideoSource*> sources = *provider->GetVideoSources();
    for (VideoSource* source : sources) {
        CListBox& list = IsExcluded(*m_exclusionList, source) ? m_excludedList : m_detectedList;
        // Both lists sort: the row's data goes where the text went.
        int row = list.AddString(WidenString(source->description).c_str());
        if (row >= 0) list.SetItemDataPtr(row, source);
    }
}

void CAdvancedSettingsDlg::OnAddExclusion() {
    VideoSource* source = SelectedSource(m_detectedList);
    if (!source) return;
    m_exclusionList->push_back({source->description, source->name});
    RefreshCameraLists(m_provider);
}

void CAdvancedSettingsDlg::OnRemoveExclusion() {
    VideoSource* source = SelectedSource(m_excludedList);
    if (!source) return;
    // Equal the way the membership test compares: the row's object need not be the one added.
    auto found = std::find_if(m_exclusionList->begin(), m_exclusionList->end(),
                              [&](const ExcludedCamera& e) { return IsExcluded({e}, source); });
    if (found != m_exclusionList->end()) m_exclusionList->erase(found);
    RefreshCameraLists(m_provider);
}

void CAdvancedSettingsDlg::OnClearExclusions() {
    m_exclusionList->clear();
    RefreshCameraLists(m_provider);
}
