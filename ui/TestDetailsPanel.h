// The test-details panel of the main dialog: seven sorted drop-down lists and two edits, filled
// from the logged-in session, with the cascade between location, endoscope type, serial and
// model. Holds no pointer into a session except the current location, which the dialog owns.
// Texts convert between the session's UTF-8 and window text with CP_UTF8. UI thread only.
#pragma once
#include "framework/Framework.h"
#include <string>

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

    // The cascade, run on a list's selection change; the session is the logged-in one (or null).
    void OnLocationChanged(const CendraSession* session);
    void OnEndoscopeTypeChanged(const CendraSession* session);
    void FilterByEndoscopeType(const CendraSession* session, const std::string& type);
    void OnModelChanged(const CendraSession* session);
    void OnSerialChanged(const CendraSession* session);

private:
    const CendraLocation* SelectedLocation(const CendraSession* session) const;

    TestDetailsControls m_c;
    CendraLocation*& m_currentLocation;
};
