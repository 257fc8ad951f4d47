// The Settings dialog (template 130): the live view's device and resolution, the format of the
// next recording, and the way to the camera exclusions. Every choice acts on the live view at
// once; OK and Cancel only close the dialog, nothing is undone and nothing is saved. UI thread
// only. Rows carry the objects the provider keeps (one per device, alive as long as the
// provider), the resolution rows those of the source the dialog lists.
#pragma once
#include "framework/Framework.h"
#include "ui/Exclusions.h"
#include <vector>

class CompositeVideoSourceProvider;
class CVideoDisplay;

class CSettingsDlg : public CDialogEx {
public:
    // All three are borrowed: the main dialog's provider, live view and exclusion list.
    CSettingsDlg(CompositeVideoSourceProvider* provider, CVideoDisplay* liveView,
                 std::vector<ExcludedCamera>* exclusions, CWnd* parent = nullptr);
    ~CSettingsDlg() override = default;

    std::vector<ExcludedCamera>* m_exclusionList;
    CompositeVideoSourceProvider* m_provider;
    CVideoDisplay* m_videoDisplay;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    // Seams for tests. Ends a running recording before the live source restarts: the main
    // dialog's own stop, reached through the live view's owner; nothing when none runs.
    virtual void StopRecording();
    // Runs the exclusions dialog modally over this one.
    virtual void RunExclusions();

    // Lists the offered sources that are not excluded, then the resolutions of the live source
    // (of the first offered when none is live).
    void FillDeviceList(VideoSourceProvider* provider);
    // Lists the source's resolutions in its own order, none when it is excluded; the dialog
    // remembers it as the listed source. A null source changes nothing.
    void FillResolutionList(VideoSource* source);

    void OnDeviceSelChange();
    void OnResolutionSelChange();
    void OnOutputFormatSelEndOk();
    void OnAdvanced();

    CListBox m_resolutionList;
    CListBox m_deviceList;
    CComboBox m_formatCombo;
    VideoSource* m_listedSource = nullptr;  // whose entries list 1000 holds

    DECLARE_MESSAGE_MAP()
};
