#include "ui/TestDetailsPanel.h"
#include "cloud/CendraSession.h"
#include "ui/ImageMetadata.h"
#include "ui/SortedListFill.h"

namespace {

void SetEdit(CWnd* edit, const wchar_t* cue) {
    if (!edit) return;
    edit->SetWindowText(L"");
    // Hidden while the edit has the focus.
    edit->SendMessage(EM_SETCUEBANNER, FALSE, reinterpret_cast<LPARAM>(cue));
}

}  // namespace

const std::string* TestDetailsPanel::SessionText(const CComboBox& list, int index) const {
    const std::vector<const void*>& table = m_listed[TableOf(list)];
    if (index < 0 || static_cast<size_t>(index) >= table.size()) return nullptr;
    return static_cast<const std::string*>(table[static_cast<size_t>(index)]);
}

const std::string& TestDetailsPanel::Listed(const CComboBox& list, int index) const {
    static const std::string kEmpty;
    const std::string* text = SessionText(list, index);
    return text ? *text : kEmpty;
}

size_t TestDetailsPanel::TableOf(const CComboBox& list) const {
    const CComboBox* lists[] = {m_c.facility, m_c.location, m_c.endoscopeType, m_c.serial, m_c.model, m_c.operatorName};
    for (size_t i = 0; i < std::size(lists); ++i)
        if (lists[i] == &list) return i;
    return std::size(lists);  // Test Result: the panel's own entries only
}

void TestDetailsPanel::ShowOnly(CComboBox& list, const std::string& text) {
    SortedListFill fill(list, &m_listed[TableOf(list)]);
    fill.Add(text, &text);
    fill.AddEmpty();
    fill.Commit();
    list.SetCurSel(1);
}

void TestDetailsPanel::Reset() {
    CComboBox* lists[] = {m_c.facility, m_c.location,     m_c.endoscopeType, m_c.serial,
                          m_c.model,    m_c.operatorName, m_c.testResult};
    const wchar_t* cues[] = {L"Facility", L"Location", L"Endoscope Type", L"Serial",
                             L"Model #",  L"Operator", L"Test Result"};
    for (CComboBox* list : lists) list->ResetContent();
    for (auto& table : m_listed) table.clear();
    for (int i = 0; i < 7; ++i) lists[i]->SetCueBanner(cues[i]);
    m_c.testResult->AddString(L"Pass");
    m_c.testResult->AddString(L"Fail");
    SetEdit(m_c.dialog->GetDlgItem(m_c.commentsId), L"Comments");
    SetEdit(m_c.dialog->GetDlgItem(m_c.recommendedActionsId), L"Recommended Actions");
}

void TestDetailsPanel::Fill(const CendraSession* session) {
    if (!session) return;
    const std::pair<CComboBox*, const std::vector<std::string>*> lists[] = {
        {m_c.location, &session->locations}, {m_c.facility, &session->facilities},
        {m_c.operatorName, &session->testers}};
    for (const auto& [list, texts] : lists) {
        SortedListFill fill(*list, &m_listed[TableOf(*list)]);
        for (const std::string& text : *texts) fill.Add(text, &text);
    }
    if (!session->facilities.empty()) m_c.facility->SetCurSel(0);
}

bool TestDetailsPanel::IsComplete() const {
    for (const CComboBox* list : {m_c.facility, m_c.location, m_c.endoscopeType, m_c.serial, m_c.model,
                                  m_c.operatorName, m_c.testResult})
        if (list->GetCurSel() == CB_ERR) return false;
    return true;
}

std::wstring TestDetailsPanel::Chosen(const CComboBox& list) const {
    const int index = list.GetCurSel();
    if (index == CB_ERR) return {};
    CString shown;
    list.GetLBText(index, shown);
    // An entry added to the list from outside moves the others away from their places in the
    // table: the session's text counts only while it is the one shown.
    const std::string* text = SessionText(list, index);
    if (text && Utf8ToWide(*text) == shown.str()) return Utf8ToWideKeepingBytes(*text);
    return shown.str();
}

const CendraLocation* TestDetailsPanel::SelectedLocation(const CendraSession* session) const {
    const std::string* name = SessionText(*m_c.location, m_c.location->GetCurSel());
    if (!session || !name) return nullptr;
    auto it = session->locationsByName.find(*name);
    return it == session->locationsByName.end() ? nullptr : &it->second;
}

void TestDetailsPanel::OnLocationChanged(const CendraSession* session) {
    SortedListFill serials(*m_c.serial, &m_listed[TableOf(*m_c.serial)]);
    SortedListFill models(*m_c.model, &m_listed[TableOf(*m_c.model)]);
    SortedListFill types(*m_c.endoscopeType, &m_listed[TableOf(*m_c.endoscopeType)]);
    const CendraLocation* location = SelectedLocation(session);
    if (!location) return;
    m_currentLocation = const_cast<CendraLocation*>(location);
    for (const auto& [type, records] : location->endoscopesByType) types.Add(type, &type);
    types.AddEmpty();
    if (!location->endoscopesByType.empty()) {
        for (const EndoscopeRecord& r : location->endoscopes) {
            serials.Add(r.serial, &r.serial);
            // Models that differ only in case are listed once, as the list's exact search sees them.
            models.AddOnce(r.model, &r.model);
        }
    }
    serials.AddEmpty();
    models.AddEmpty();
    for (SortedListFill* fill : {&types, &serials, &models}) fill->Commit();
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
    // The empty entry: the location's full lists again (emptied first by the location change).
    if (index == 0) {
        OnLocationChanged(session);
        return;
    }
    FilterByEndoscopeType(session, Listed(*m_c.endoscopeType, index));
}

void TestDetailsPanel::FilterByEndoscopeType(const CendraSession* session, const std::string& type) {
    const CendraLocation* location = SelectedLocation(session);
    if (!location) return;
    SortedListFill serials(*m_c.serial, &m_listed[TableOf(*m_c.serial)]);
    SortedListFill models(*m_c.model, &m_listed[TableOf(*m_c.model)]);
    size_t records = 0;
    if (auto it = location->endoscopesByType.find(type); it != location->endoscopesByType.end()) {
        records = it->second.size();
        for (const EndoscopeRecord& r : it->second) serials.Add(r.serial, &r.serial);
    }
    if (auto it = location->modelsByType.find(type); it != location->modelsByType.end())
        for (const std::string& model : it->second) models.Add(model, &model);
    models.AddEmpty();
    serials.AddEmpty();
    models.Commit();
    serials.Commit();
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
        OnLocationChanged(session);
        return;
    }
    // The session's own text: it outlives the list's entries.
    const std::string& model = Listed(*m_c.model, index);
    int matches = 0;
    const EndoscopeRecord* last = nullptr;
    {
        SortedListFill serials(*m_c.serial, &m_listed[TableOf(*m_c.serial)]);
        if (m_currentLocation) {
            for (const EndoscopeRecord& r : m_currentLocation->endoscopes) {
                if (r.model != model) continue;
                ++matches;
                last = &r;
                serials.Add(r.serial, &r.serial);
            }
        }
        serials.AddEmpty();
    }
    // The last match's type stands, as it would after each match in turn.
    if (last) {
        ShowOnly(*m_c.endoscopeType, last->type);
        ShowOnly(*m_c.model, last->model);
    }
    m_c.serial->SetCurSel(matches == 1 ? 1 : 0);
}

void TestDetailsPanel::OnSerialChanged(const CendraSession* session) {
    int index = m_c.serial->GetCurSel();
    if (index == CB_ERR) return;
    if (index == 0) {
        OnLocationChanged(session);
        return;
    }
    const std::string& serial = Listed(*m_c.serial, index);
    {
        SortedListFill models(*m_c.model, &m_listed[TableOf(*m_c.model)]);
        if (m_currentLocation) {
            for (const EndoscopeRecord& r : m_currentLocation->endoscopes) {
                if (r.serial != serial) continue;
                ShowOnly(*m_c.endoscopeType, r.type);
                models.Add(r.model, &r.model);
                break;
            }
        }
        models.AddEmpty();
    }
    m_c.model->SetCurSel(1);
}
