#include "ui/SettingsDlg.h"
#include <algorithm>
#include "res/SettingsResource.h"
#include "ui/AdvancedSettingsDlg.h"
#include "ui/ImageMetadata.h"
#include "ui/LumetraDlg.h"
#include "ui/VideoDisplay.h"
#include "video/CompositeVideoSourceProvider.h"

namespace {

// The item data of the selected row; null when the list is missing, no row is selected or the
// row carries nothing.
template <typename T>
T* SelectedItem(const CListBox& list) {
    if (!list.m_hWnd) return nullptr;
    int row = list.GetCurSel();
    if (row < 0) return nullptr;
    DWORD_PTR data = list.GetItemData(row);
    return data == static_cast<DWORD_PTR>(LB_ERR) ? nullptr : reinterpret_cast<T*>(data);
}

bool HasEntry(const VideoSource* source, const VideoResolution* entry) {
    return source && std::find(source->resolutions.begin(), source->resolutions.end(), entry) !=
                         source->resolutions.end();
}

// Whether CVideoDisplay::SetResolution would restart the live source (its own guard): only then
// does a recording have to end first.
bool ResolutionRestarts(const CVideoDisplay& view, const VideoResolution* entry) {
    return entry && entry != view.resolution && view.source && view.source->resolutions.size() > 1;
}

}  // namespace

CSettingsDlg::CSettingsDlg(CompositeVideoSourceProvider* provider, CVideoDisplay* liveView,
                           std::vector<ExcludedCamera>* exclusions, CWnd* parent)
    : CDialogEx(IDD_SETTINGS_DIALOG, parent),
      m_exclusionList(exclusions),
      m_provider(provider),
      m_videoDisplay(liveView) {}

BEGIN_MESSAGE_MAP(CSettingsDlg, CDialogEx)
    ON_LBN_SELCHANGE(IDC_DEVICE_LIST, &CSettingsDlg::OnDeviceSelChange)
    ON_LBN_SELCHANGE(IDC_RESOLUTION_LIST, &CSettingsDlg::OnResolutionSelChange)
    ON_BN_CLICKED(IDC_ADVANCED_SETTINGS, &CSettingsDlg::OnAdvanced)
    ON_CBN_SELENDOK(IDC_OUTPUT_FORMAT, &CSettingsDlg::OnOutputFormatSelEndOk)
END_MESSAGE_MAP()

void CSettingsDlg::DoDataExchange(CDataExchange* dx) {
    CDialogEx::DoDataExchange(dx);
    DDX_Control(dx, IDC_RESOLUTION_LIST, m_resolutionList);
    DDX_Control(dx, IDC_DEVICE_LIST, m_deviceList);
    DDX_Control(dx, IDC_OUTPUT_FORMAT, m_formatCombo);
}

BOOL CSettingsDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();  // adds "AVI", "MPEG", "WMV": the index is the VideoOutputFormat
    if (m_formatCombo.m_hWnd) m_formatCombo.SetCurSel(m_videoDisplay->videoFormat);
    FillDeviceList(m_provider);
    return TRUE;
}

void CSettingsDlg::FillDeviceList(VideoSourceProvider* provider) {
    if (!m_deviceList.m_hWnd || !provider) return;
    m_deviceList.ResetContent();
    const std::vector<VideoSource*> sources = *provider->GetVideoSources();
    if (sources.empty() && !m_videoDisplay->source) return;
    for (VideoSource* source : sources) {
        if (IsExcluded(*m_exclusionList, source)) continue;
        // The list sorts: the row's data goes where the text went.
        int row = m_deviceList.AddString(WidenString(source->description).c_str());
        if (row >= 0) m_deviceList.SetItemDataPtr(row, source);
    }
    // Entries only ever go to the source they belong to, so the list shows the live one's.
    FillResolutionList(m_videoDisplay->source ? m_videoDisplay->source : sources.front());
}

void CSettingsDlg::FillResolutionList(VideoSource* source) {
    if (!source || !m_resolutionList.m_hWnd) return;
    m_resolutionList.ResetContent();
    m_listedSource = source;
    if (IsExcluded(*m_exclusionList, source)) return;
    for (VideoResolution* entry : source->resolutions) {
        int row = m_resolutionList.AddString(WidenString(entry->label).c_str());
        if (row >= 0) m_resolutionList.SetItemDataPtr(row, entry);
    }
}

void CSettingsDlg::StopRecording() {
    if (m_videoDisplay->owner) m_videoDisplay->owner->StopRecording();
}

void CSettingsDlg::OnDeviceSelChange() {
    VideoSource* source = SelectedItem<VideoSource>(m_deviceList);
    if (!source) return;
    FillResolutionList(source);
    // Nothing to open a source at that lists no format: it stays listed, the live view as it was.
    if (source->resolutions.empty()) return;
    CVideoDisplay& view = *m_videoDisplay;
    VideoResolution* first = source->resolutions.front();
    // Another device switches; the live one returns to its first entry when another is in use.
    if (source != view.source || ResolutionRestarts(view, first)) StopRecording();
    view.SetSource(source);
    view.SetResolution(first);
}

void CSettingsDlg::OnResolutionSelChange() {
    VideoResolution* entry = SelectedItem<VideoResolution>(m_resolutionList);
    if (!entry) return;
    CVideoDisplay& view = *m_videoDisplay;
    bool stopped = false;
    if (!HasEntry(view.source, entry)) {
        // The live source changed under the dialog (a device-list refresh): the listed one becomes
        // live again first, since an entry describes a format of its own source only.
        if (!HasEntry(m_listedSource, entry)) return;
        StopRecording();
        stopped = true;
        view.SetSource(m_listedSource);
    }
    if (ResolutionRestarts(view, entry) && !stopped) StopRecording();
    view.SetResolution(entry);
}

void CSettingsDlg::OnOutputFormatSelEndOk() {
    // The next recording's format; one already running keeps its own.
    int format = m_formatCombo.m_hWnd ? m_formatCombo.GetCurSel() : CB_ERR;
    if (format >= 0) m_videoDisplay->videoFormat = format;
}

void CSettingsDlg::RunExclusions() {
    CAdvancedSettingsDlg dlg(m_provider, m_exclusionList, this);
    dlg.DoModal();
}

void CSettingsDlg::OnAdvanced() {
    RunExclusions();
    // Newly excluded devices leave, re-admitted ones return; the live view is not changed.
    FillDeviceList(m_provider);
}
