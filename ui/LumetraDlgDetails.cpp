// The test-details panel: the dialog's part-named methods over its TestDetailsPanel.
#include "ui/LumetraDlg.h"
#include "cloud/CendraClient.h"
#include "res/resource.h"

const CendraSession* CLumetraDlg::Session() const { return m_client ? m_client->session.get() : nullptr; }

void CLumetraDlg::ResetTestDetails() { m_panel.Reset(); }

void CLumetraDlg::SetBannerText(std::string text) {
    ResetTestDetails();
    if (CWnd* banner = GetDlgItem(IDC_BANNER)) banner->SetWindowText(Utf8ToWide(text).c_str());
}

void CLumetraDlg::ApplyOfflineLayout() {
    static const int kOnlineOnly[] = {IDC_LOGOUT,   IDC_UPLOAD,         IDC_EDIT_IMAGES, IDC_FACILITY,
                                      IDC_LOCATION, IDC_ENDOSCOPE_TYPE, IDC_SERIAL,      IDC_MODEL,
                                      IDC_OPERATOR, IDC_TEST_RESULT,    IDC_COMMENTS,    IDC_RECOMMENDED_ACTIONS,
                                      IDC_TEST_DATE, IDC_TEST_TIME,     IDC_TEST_DETAILS_LABEL};
    for (int id : kOnlineOnly)
        if (CWnd* control = GetDlgItem(id)) control->ShowWindow(SW_HIDE);
}

void CLumetraDlg::FillAccountCombos() { m_panel.Fill(Session()); }
bool CLumetraDlg::AreTestDetailsComplete() const { return m_panel.IsComplete(); }
void CLumetraDlg::OnLocationChanged() { m_panel.OnLocationChanged(Session()); }
void CLumetraDlg::OnEndoscopeTypeChanged() { m_panel.OnEndoscopeTypeChanged(Session()); }
void CLumetraDlg::FilterByEndoscopeType(const std::string& type) { m_panel.FilterByEndoscopeType(Session(), type); }
void CLumetraDlg::OnModelChanged() { m_panel.OnModelChanged(Session()); }
void CLumetraDlg::OnSerialChanged() { m_panel.OnSerialChanged(Session()); }
