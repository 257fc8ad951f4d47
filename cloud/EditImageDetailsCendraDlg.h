// The dialog that corrects the test details of one captured still (template 143): a preview, seven
// sorted lists filled from the main dialog's logged-in session and narrowing one another, five
// edits. "Save Details" writes the .meta file and then the main dialog's cache; "Cancel", Enter,
// Esc and the close box write nothing. Modal on the UI thread: the session cannot change while it
// is open, so pointers into it (the current location, the lists' item data) stay valid. Entries
// filled from the session carry the session's text as item data (Serial's from a type: the
// record), and choices are looked up by it; the lists are filled as the main dialog's panel fills
// its own (SortedListFill).
#pragma once
#include "cloud/Upload.h"
#include "framework/Framework.h"
#include "ui/ImageMetadata.h"
#include "ui/ReferenceDisplay.h"
#include <string>

class CLumetraDlg;
struct CendraLocation;
struct CendraSession;

class CEditImageDetailsCendraDlg : public CDialogEx {
public:
    CEditImageDetailsCendraDlg(CLumetraDlg* mainDlg, ImageMetadata metadata, UploadItem item);
    ~CEditImageDetailsCendraDlg() override;

    CLumetraDlg* m_mainDlg;
    ImageMetadata m_metadata;
    UploadItem m_item;
    CComboBox m_facilityCombo;
    CComboBox m_locationCombo;
    CComboBox m_endoscopeTypeCombo;
    CComboBox m_serialCombo;
    CComboBox m_modelCombo;
    CComboBox m_operatorCombo;
    CComboBox m_testResultCombo;
    const CendraLocation* m_currentLocation = nullptr;
    CReferenceDisplay m_preview;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;

    // Every message box of the dialog.
    virtual int ShowMessage(const wchar_t* text, const wchar_t* caption, UINT type) {
        return MessageBox(text, caption, type);
    }

    // The main dialog's session; null without a client.
    const CendraSession* Session() const;
    // The session's location named by Location's selected entry; null if none.
    const CendraLocation* SelectedLocation() const;

    void FillAccountCombos();
    void OnLocationChanged();
    void FilterByEndoscopeType(const std::string& type);
    void OnEndoscopeTypeChanged();
    void OnSerialChanged();
    void OnModelChanged();
    void OnBnClickedSaveDetails();
    void OnBnClickedCancel();
    BOOL OnEraseBkgnd(CDC* dc);
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);

    DECLARE_MESSAGE_MAP()
};
