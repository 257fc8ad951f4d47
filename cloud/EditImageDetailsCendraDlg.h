// The dialog that corrects the test details of one captured still (template 143): a preview, seven
// sorted lists filled from the main dialog's logged-in session and narrowing one another, five
// edits. "Save Details" writes the .meta file and then the main dialog's cache; "Cancel", Enter,
// Esc and the close box write nothing. Modal on the UI thread: the session cannot change while it
// is open, so pointers into it (the current location, the lists' item data) stay valid. Entries
// filled from the session carry the session's text as item data (Serial's: the record), and
// choices are looked up by it; the lists are filled as the main dialog's panel fills its own
// (SortedListFill). A stored value that no entry stands for is listed with its bytes as item data.
// Entries show escaped bytes as U+FFFD, and Save writes the bytes of what was chosen, never its
// shown text converted back.
#pragma once
#include "cloud/Upload.h"
#include "framework/Framework.h"
#include "ui/ImageMetadata.h"
#include "ui/ReferenceDisplay.h"
#include <deque>
#include <string>

class CLumetraDlg;
struct CendraLocation;
struct CendraSession;
struct EndoscopeRecord;

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

    // The bytes entry index of list stands for: the stored value or the session's text it was
    // listed for; for the dialog's own entries, their text.
    std::string ListedBytes(const CComboBox& list, int index) const;
    // The stored value whose bytes data points to; null if it points elsewhere.
    const std::string* Stored(const void* data) const;
    // The record Serial's entry index brings when chosen; null for a serial the Model # handler
    // listed, a stored one and none.
    const EndoscopeRecord* SerialRecord(int index) const;
    // The first entry that stands for bytes; -1 if none.
    int FindListed(const CComboBox& list, const std::string& bytes) const;
    // The entry a stored value stands for; -1 if none.
    int FindStored(const CComboBox& list, const std::wstring& stored) const;
    // Lists a stored value (shown as ShownText) with its bytes; its index.
    int AddStored(CComboBox& list, const std::wstring& stored);
    void FindOrAddStored(CComboBox& list, const std::wstring& stored);
    // The chosen entry as a record stores it (Utf8ToWideKeepingBytes of its bytes); empty if none.
    std::wstring Chosen(const CComboBox& list) const;

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

private:
    // The stored values listed by AddStored, their bytes: a deque keeps their addresses.
    std::deque<std::string> m_stored;
    // Serial was filled by the Model # handler: its entries bring nothing else when chosen.
    bool m_serialsByModel = false;
};
