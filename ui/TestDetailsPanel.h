// The test-details panel of the main dialog: seven sorted drop-down lists and two edits, filled
// from the logged-in session, with the cascade between location, endoscope type, serial and
// model. The session's UTF-8 is shown as Utf8ToWide gives it. For each list the panel keeps, by
// position, a pointer to the session's text each entry shows, and a choice is looked up by that
// text, never by converting the shown one back: a name that is not valid UTF-8 is shown with
// U+FFFD and still finds its records. Only the panel adds to or empties its lists. The dialog
// empties the panel before the session goes (every login and log-out changes the banner), so these
// pointers, and the current location, which the dialog owns, stay valid while listed. UI thread
// only.
#pragma once
#include "framework/Framework.h"
#include <cstddef>
#include <string>
#include <vector>

struct CendraSession;
struct CendraLocation;

struct TestDetailsControls {
    CComboBox* facility;
    CComboBox* location;
    CComboBox* endoscopeType;
    CComboBox* serial;
    CComboBox* model;
    CComboBox* operatorName;
    CComboBox* testResult;
    CWnd* dialog;  // holds the two edits, looked up by id when needed (either may be missing)
    int commentsId;
    int recommendedActionsId;
};

class TestDetailsPanel {
public:
    // currentLocation: the dialog's record of the location last looked up with success.
    TestDetailsPanel(TestDetailsControls controls, CendraLocation*& currentLocation)
        : m_c(controls), m_currentLocation(currentLocation) {}

    // Empties every list and both edits and sets their cue banners; Test Result gets its two
    // entries.
    void Reset();
    // Location, Facility (first entry selected) and Operator from the session; null: nothing.
    void Fill(const CendraSession* session);
    // Every list, in panel order, has a selection (an empty entry counts).
    bool IsComplete() const;
    // The chosen entry of list as a record stores it: the session's text it was listed for, its
    // bytes kept (Utf8ToWideKeepingBytes); for the panel's own entries, and for an entry it did not
    // list, the shown text; empty without a choice.
    std::wstring Chosen(const CComboBox& list) const;

    // The cascade, run on a list's selection change; the session is the logged-in one (or null).
    void OnLocationChanged(const CendraSession* session);
    void OnEndoscopeTypeChanged(const CendraSession* session);
    void FilterByEndoscopeType(const CendraSession* session, const std::string& type);
    void OnModelChanged(const CendraSession* session);
    void OnSerialChanged(const CendraSession* session);

private:
    const CendraLocation* SelectedLocation(const CendraSession* session) const;
    // The session's text entry index of list shows; null for the panel's own entries (the empty
    // entries, Test Result's) and for no entry.
    const std::string* SessionText(const CComboBox& list, int index) const;
    // As SessionText, with the empty text for null.
    const std::string& Listed(const CComboBox& list, int index) const;
    // The list's place in m_listed.
    size_t TableOf(const CComboBox& list) const;
    // The list emptied, then holding text (a session's) and the empty entry, text chosen.
    void ShowOnly(CComboBox& list, const std::string& text);

    TestDetailsControls m_c;
    CendraLocation*& m_currentLocation;
    // Per list, Facility to Operator in the order of TestDetailsControls, then one that stays
    // empty for Test Result: the session's text of each entry, by position (null: the panel's own).
    std::vector<const void*> m_listed[7];
};
