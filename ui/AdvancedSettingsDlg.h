// The camera exclusions dialog (template 136): moves cameras between the detected list and the
// main dialog's exclusion list. Changes act at once; OK and Cancel only close it. Cameras are
// matched by value (description and name), since the providers may hand out new objects for the
// same camera; an entry no offered source matches stays on the list, shown in neither. UI thread
// only.
#pragma once
#include "framework/Framework.h"
#include "ui/Exclusions.h"
#include <vector>

class CompositeVideoSourceProvider;

class CAdvancedSettingsDlg : public CDialogEx {
public:
    // Both are borrowed. The parent is the dialog that runs this one (Settings), disabled meanwhile.
    CAdvancedSettingsDlg(CompositeVideoSourceProvider* provider, std::vector<ExcludedCamera>* exclusions,
                         CWnd* parent = nullptr);
    ~CAdvancedSettingsDlg() override = default;

    std::vector<ExcludedCamera>* m_exclusionList;
    CompositeVideoSourceProvider* m_provider;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;

    // Every offered source into the excluded list or the detected one, by IsExcluded.
    void RefreshCameraLists(VideoSourceProvider* provider);
    void OnAddExclusion();
    // Erases the first entry equal to the selected camera; its twins come back with it.
    void OnRemoveExclusion();
    void OnClearExclusions();

    CListBox m_detectedList;
    CListBox m_excludedList;

    DECLARE_MESSAGE_MAP()
};
