#include "ui/TestDetailsPanel.h"
#include "cloud/CendraSession.h"
#include "cloud/Upload.h"

namespace {

std::string SelectedText(const CComboBox& list) {
    int index = list.GetCurSel();
    if (index == CB_ERR) return {};
    CString text;
    list.GetLBText(index, text);
    return WideToUtf8(text.str());
}

void Add(CComboBox& list, const std::string& text) { list.AddString(Utf8ToWide(text).c_str()); }

void SetEdit(CWnd* edit, const wchar_t* cue) {
    if (!edit) return;
    edit->SetWindowText(L"");
    // Hidden while the edit has the focus.
    edit->SendMessage(EM_SETCUEBANNER, FALSE, reinterpret_cast<LPARAM>(cue));
}

}  // namespace

void TestDetailsPanel::Reset() {
    CComboBox* lists[] = {m_c.facility, m_c.location,     m_c.endoscopeType, m_c.serial,
                          m_c.model,    m_c.operatorName, m_c.testResult};
    const wchar_t* cues[] = {L"Facility", L"Location", L"Endoscope Type", L"Serial",
                             L"Model #",  L"Operator", L"Test Result"};
    for (CComboBox* list : lists) list->ResetContent();
    for (int i = 0; i < 7; ++i) lists[i]->SetCueBanner(cues[i]);
    m_c.testResult->AddString(L"Pass");
    m_c.testResult->AddString(L"Fail");
    SetEdit(m_c.dialog->GetDlgItem(m_c.commentsId), L"Comments");
    SetEdit(m_c.dialog->GetDlgItem(m_c.recommendedActionsId), L"Recommended Actions");
}

void TestDetailsPanel::Fill(const CendraSession* session) {
    if (!session) return;
    for (const std::string& name : session->locations) Add(*m_c.location, name);
    for (const std::string& name : session->facilities) Add(*m_c.facility, name);
    if (!session->facilities.empty()) m_c.facility->SetCurSel(0);
    for (const std::string& name : session->testers) Add(*m_c.operatorName, name);
}

bool TestDetailsPanel::IsComplete() const {
    for (const CComboBox* list : {m_c.facility, m_c.location, m_c.endoscopeType, m_c.serial, m_c.model,
                                  m_c.operatorName, m_c.testResult})
        if (list->GetCurSel() == CB_ERR) return false;
    return true;
}

const CendraLocation* TestDetailsPanel::SelectedLocation(const CendraSession* session) const {
    if (!session || m_c.location->GetCurSel() == CB_ERR) return nullptr;
    auto it = session->locationsByName.find(SelectedText(*m_c.location));
    return it == session->locationsByName.end() ? nullptr : &it->second;
}

void TestDetailsPanel::OnLocationChanged(const CendraSession* session) {
    m_c.serial->ResetContent();
    m_c.model->ResetContent();
    m_c.endoscopeType->ResetContent();
    const CendraLocation* location = SelectedLocation(session);
    if (!location) return;
    m_currentLocation = const_cast<CendraLocation*>(location);
    for (const auto& [type, records] : location->endoscopesByType) Add(*m_c.endoscopeType, type);
    m_c.endoscopeType->AddString(L"");
    if (!location->endoscopesByType.empty()) {
        for (const EndoscopeRecord& r : location->endoscopes) {
            Add(*m_c.serial, r.serial);
            // The list's exact search ignores case: models differing only in case are listed once.
            if (m_c.model->FindStringExact(-1, Utf8ToWide(r.model).c_str()) == CB_ERR) Add(*m_c.model, r.model);
        }
    }
    m_c.serial->AddString(L"");
    m_c.model->AddString(L"");
    m_c.model->SetCueBanner(L"Model #");
    m_c.serial->SetCueBanner(L"Serial #");
    m_c.endoscopeType->SetCueBanner(L"Endoscope Type");
    m_c.model->SetCurSel(-1);
    m_c.serial->SetCurSel(-1);
    m_c.endoscopeType->SetCurSel(-1);
}

void TestDetailsPanel::OnEndoscopeTypeChanged(const CendraSession* session) {
    int index = m_c.endoscopeType->GetCurSel();
    if (index == CB_ERR) return;
    if (index == 0) {
        m_c.model->ResetContent();
        m_c.serial->ResetContent();
        OnLocationChanged(session);
        return;
    }
    FilterByEndoscopeType(session, SelectedText(*m_c.endoscopeType));
}

void TestDetailsPanel::FilterByEndoscopeType(const CendraSession* session, const std::string& type) {
    const CendraLocation* location = SelectedLocation(session);
    if (!location) return;
    m_c.serial->ResetContent();
    m_c.model->ResetContent();
    size_t records = 0;
    if (auto it = location->endoscopesByType.find(type); it != location->endoscopesByType.end()) {
        records = it->second.size();
        for (const EndoscopeRecord& r : it->second) Add(*m_c.serial, r.serial);
    }
    if (auto it = location->modelsByType.find(type); it != location->modelsByType.end())
        for (const std::string& model : it->second) Add(*m_c.model, model);
    m_c.model->AddString(L"");
    m_c.serial->AddString(L"");
    if (records == 1) {
        m_c.model->SetCurSel(1);
        m_c.serial->SetCurSel(1);
    }
    m_c.model->SetCueBanner(L"Model #");
    m_c.serial->SetCueBanner(L"Serial #");
}

void TestDetailsPanel::OnModelChanged(const CendraSession* session) {
    int index = m_c.model->GetCurSel();
    if (index == CB_ERR) return;
    if (index == 0) {
        m_c.serial->ResetContent();
        m_c.model->ResetContent();
        m_c.endoscopeType->ResetContent();
        OnLocationChanged(session);
        return;
    }
    std::string model = SelectedText(*m_c.model);
    m_c.serial->ResetContent();
    int matches = 0;
    if (m_currentLocation) {
        for (const EndoscopeRecord& r : m_currentLocation->endoscopes) {
            if (r.model != model) continue;
            ++matches;
            m_c.endoscopeType->ResetContent();
            Add(*m_c.endoscopeType, r.type);
            m_c.endoscopeType->AddString(L"");
            m_c.endoscopeType->SetCurSel(1);
            m_c.model->ResetContent();
            Add(*m_c.model, r.model);
            m_c.model->AddString(L"");
            m_c.model->SetCurSel(1);
            Add(*m_c.serial, r.serial);
        }
    }
    m_c.serial->AddString(L"");
    m_c.serial->SetCurSel(matches == 1 ? 1 : 0);
}

void TestDetailsPanel::OnSerialChanged(const CendraSession* session) {
    int index = m_c.serial->GetCurSel();
    if (index == CB_ERR) return;
    if (index == 0) {
        m_c.model->ResetContent();
        m_c.endoscopeType->ResetContent();
        OnLocationChanged(session);
        return;
    }
    std::string serial = SelectedText(*m_c.serial);
    m_c.model->ResetContent();
    if (m_currentLocation) {
        for (const EndoscopeRecord& r : m_currentLocation->endoscopes) {
            if (r.serial != serial) continue;
            m_c.endoscopeType->ResetContent();
            Add(*m_c.endoscopeType, r.type);
            m_c.endoscopeType->AddString(L"");
            m_c.endoscopeType->SetCurSel(1);
            Add(*m_c.model, r.model);
            break;
        }
    }
    m_c.model->AddString(L"");
    m_c.model->SetCurSel(1);
}
