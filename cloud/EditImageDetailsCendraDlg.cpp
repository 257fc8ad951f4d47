#include "cloud/EditImageDetailsCendraDlg.h"
#include "cloud/CendraClient.h"
#include "cloud/DialogLook.h"
#include "res/CloudFormsResource.h"
#include "ui/LumetraDlg.h"
#include "ui/SortedListFill.h"
#include <unordered_set>
#include <utility>

namespace {

std::wstring EntryText(const CComboBox& list, int index) {
    CString text;
    if (index >= 0) list.GetLBText(index, text);
    return text.str();
}

std::wstring ItemText(const CWnd* dlg, int id) {
    CString text;
    if (CWnd* item = dlg->GetDlgItem(id)) item->GetWindowText(text);
    return text.str();
}

template <typename Map>
const typename Map::mapped_type* Find(const Map& map, const std::string& key) {
    auto it = map.find(key);
    return it == map.end() ? nullptr : &it->second;
}

}  // namespace

BEGIN_MESSAGE_MAP(CEditImageDetailsCendraDlg, CDialogEx)
    ON_BN_CLICKED(IDC_DETAILS_SAVE, &CEditImageDetailsCendraDlg::OnBnClickedSaveDetails)
    ON_BN_CLICKED(IDC_DETAILS_CANCEL, &CEditImageDetailsCendraDlg::OnBnClickedCancel)
    ON_CBN_SELCHANGE(IDC_DETAILS_LOCATION, &CEditImageDetailsCendraDlg::OnLocationChanged)
    ON_CBN_SELCHANGE(IDC_DETAILS_ENDOSCOPE_TYPE, &CEditImageDetailsCendraDlg::OnEndoscopeTypeChanged)
    ON_CBN_SELCHANGE(IDC_DETAILS_SERIAL, &CEditImageDetailsCendraDlg::OnSerialChanged)
    ON_CBN_SELCHANGE(IDC_DETAILS_MODEL, &CEditImageDetailsCendraDlg::OnModelChanged)
    ON_WM_ERASEBKGND()
    ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

CEditImageDetailsCendraDlg::CEditImageDetailsCendraDlg(CLumetraDlg* mainDlg, ImageMetadata metadata, UploadItem item)
    : CDialogEx(IDD_EDIT_IMAGE_DETAILS), m_mainDlg(mainDlg), m_metadata(std::move(metadata)), m_item(std::move(item)) {}

CEditImageDetailsCendraDlg::~CEditImageDetailsCendraDlg() = default;

void CEditImageDetailsCendraDlg::DoDataExchange(CDataExchange* dx) {
    CDialogEx::DoDataExchange(dx);
    DDX_Control(dx, IDC_DETAILS_FACILITY, m_facilityCombo);
    DDX_Control(dx, IDC_DETAILS_LOCATION, m_locationCombo);
    DDX_Control(dx, IDC_DETAILS_ENDOSCOPE_TYPE, m_endoscopeTypeCombo);
    DDX_Control(dx, IDC_DETAILS_SERIAL, m_serialCombo);
    DDX_Control(dx, IDC_DETAILS_MODEL, m_modelCombo);
    DDX_Control(dx, IDC_DETAILS_OPERATOR, m_operatorCombo);
    DDX_Control(dx, IDC_DETAILS_TEST_RESULT, m_testResultCombo);
    DDX_Control(dx, IDC_DETAILS_PREVIEW, m_preview);
}

const CendraSession* CEditImageDetailsCendraDlg::Session() const {
    return m_mainDlg && m_mainDlg->m_client ? m_mainDlg->m_client->session.get() : nullptr;
}

const CendraLocation* CEditImageDetailsCendraDlg::SelectedLocation() const {
    const CendraSession* session = Session();
    if (!session) return nullptr;
    return Find(session->locationsByName, ListedBytes(m_locationCombo, m_locationCombo.GetCurSel()));
}

std::string CEditImageDetailsCendraDlg::ListedBytes(const CComboBox& list, int index) const {
    const void* data = EntryData(list, index);
    if (!data) return WideToUtf8(EntryText(list, index));
    if (const std::string* stored = Stored(data)) return *stored;
    if (&list == &m_serialCombo) return static_cast<const EndoscopeRecord*>(data)->serial;
    return *static_cast<const std::string*>(data);
}

const std::string* CEditImageDetailsCendraDlg::Stored(const void* data) const {
    for (const std::string& stored : m_stored)
        if (&stored == data) return &stored;
    return nullptr;
}

const EndoscopeRecord* CEditImageDetailsCendraDlg::SerialRecord(int index) const {
    const void* data = EntryData(m_serialCombo, index);
    if (!data || m_serialsByModel || Stored(data)) return nullptr;
    return static_cast<const EndoscopeRecord*>(data);
}

int CEditImageDetailsCendraDlg::FindListed(const CComboBox& list, const std::string& bytes) const {
    const int count = list.GetCount();
    for (int i = 0; i < count; ++i)
        if (ListedBytes(list, i) == bytes) return i;
    return -1;
}

int CEditImageDetailsCendraDlg::FindStored(const CComboBox& list, const std::wstring& stored) const {
    if (int found = FindListed(list, WideToUtf8(stored)); found >= 0) return found;
    // A record captured before the service's bytes were kept holds U+FFFD in their place, as the
    // entry shows them.
    if (stored.find(L'\xFFFD') == std::wstring::npos) return -1;
    const int count = list.GetCount();
    for (int i = 0; i < count; ++i)
        if (EntryText(list, i) == stored) return i;
    return -1;
}

int CEditImageDetailsCendraDlg::AddStored(CComboBox& list, const std::wstring& stored) {
    m_stored.push_back(WideToUtf8(stored));
    const int index = list.AddString(ShownText(stored).c_str());
    if (index >= 0) list.SetItemDataPtr(index, &m_stored.back());
    return index;
}

void CEditImageDetailsCendraDlg::FindOrAddStored(CComboBox& list, const std::wstring& stored) {
    int index = FindStored(list, stored);
    if (index < 0) index = AddStored(list, stored);
    list.SetCurSel(index);
}

std::wstring CEditImageDetailsCendraDlg::Chosen(const CComboBox& list) const {
    const int index = list.GetCurSel();
    return index < 0 ? std::wstring() : Utf8ToWideKeepingBytes(ListedBytes(list, index));
}

BOOL CEditImageDetailsCendraDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();

    CComboBox* const lists[] = {&m_facilityCombo, &m_locationCombo, &m_endoscopeTypeCombo, &m_serialCombo,
                                &m_modelCombo,    &m_operatorCombo, &m_testResultCombo};
    static const wchar_t* const cues[] = {L"Facility", L"Location", L"Endoscope Type", L"Serial",
                                          L"Model #",  L"Operator", L"Test Result"};
    for (CComboBox* list : lists) list->ResetContent();
    for (int i = 0; i < 7; ++i) lists[i]->SetCueBanner(cues[i]);
    m_testResultCombo.AddString(L"Pass");
    m_testResultCombo.AddString(L"Fail");
    m_modelCombo.AddString(L"");

    for (auto [id, cue] : {std::pair{IDC_DETAILS_COMMENTS, L"Comments"},
                           std::pair{IDC_DETAILS_RECOMMENDED_ACTIONS, L"Recommended Actions"}}) {
        SetDlgItemText(id, L"");
        // Hidden while the edit has the focus.
        ::SendDlgItemMessageW(m_hWnd, id, EM_SETCUEBANNER, FALSE, reinterpret_cast<LPARAM>(cue));
    }

    FillAccountCombos();
    FindOrAddStored(m_facilityCombo, m_metadata.facility);
    if (int found = FindStored(m_locationCombo, m_metadata.location); found >= 0) {
        m_locationCombo.SetCurSel(found);
        OnLocationChanged();
    } else {
        m_locationCombo.SetCurSel(AddStored(m_locationCombo, m_metadata.location));
    }
    FindOrAddStored(m_operatorCombo, m_metadata.operatorName);
    if (int found = FindStored(m_endoscopeTypeCombo, m_metadata.endoscopeType); found >= 0) {
        m_endoscopeTypeCombo.SetCurSel(found);
        OnEndoscopeTypeChanged();
    } else {
        m_endoscopeTypeCombo.SetCurSel(AddStored(m_endoscopeTypeCombo, m_metadata.endoscopeType));
    }
    FindOrAddStored(m_serialCombo, m_metadata.serial);
    FindOrAddStored(m_modelCombo, m_metadata.model);
    FindOrAddStored(m_testResultCombo, m_metadata.testResult);

    CWnd* commentsEdit = GetDlgItem(IDC_DETAILS_COMMENTS);
    CWnd* actionsEdit = GetDlgItem(IDC_DETAILS_RECOMMENDED_ACTIONS);
    if (!commentsEdit || !actionsEdit) return TRUE;
    commentsEdit->SetWindowText(ShownText(m_metadata.comments).c_str());
    actionsEdit->SetWindowText(ShownText(m_metadata.recommendedActions).c_str());
    CWnd* date = GetDlgItem(IDC_DETAILS_TEST_DATE);
    CWnd* time = GetDlgItem(IDC_DETAILS_TEST_TIME);
    if (!date || !time) return TRUE;
    date->SetWindowText(ShownText(m_metadata.testDate).c_str());
    time->SetWindowText(ShownText(m_metadata.testTime).c_str());
    CWnd* fileName = GetDlgItem(IDC_DETAILS_FILE_NAME);
    if (!fileName) return TRUE;
    fileName->SetWindowText(m_item.fileName.c_str());
    if (!m_preview.m_hWnd) return TRUE;

    // A missing or unreadable image leaves the preview without a picture.
    CImage image;
    const std::wstring imagesFolder = m_mainDlg ? m_mainDlg->m_imagesFolder : std::wstring();
    if (!m_item.fileName.empty()) image.Load((imagesFolder + L"\\" + m_item.fileName).c_str());
    m_preview.SetImage(image, image.GetWidth(), image.GetHeight());
    m_preview.Invalidate(TRUE);
    m_preview.UpdateWindow();
    return TRUE;
}

void CEditImageDetailsCendraDlg::FillAccountCombos() {
    const CendraSession* session = Session();
    if (!session) return;
    const std::pair<CComboBox*, const std::vector<std::string>*> lists[] = {
        {&m_locationCombo, &session->locations}, {&m_facilityCombo, &session->facilities},
        {&m_operatorCombo, &session->testers}};
    for (const auto& [list, texts] : lists) {
        SortedListFill fill(*list);
        for (const std::string& text : *texts) fill.Add(text, &text);
        fill.Commit();
    }
    if (!session->facilities.empty()) m_facilityCombo.SetCurSel(0);
}

void CEditImageDetailsCendraDlg::OnLocationChanged() {
    m_serialsByModel = false;
    m_serialCombo.ResetContent();
    m_modelCombo.ResetContent();
    m_endoscopeTypeCombo.ResetContent();
    const CendraLocation* location = SelectedLocation();
    if (!location) return;
    m_currentLocation = location;
    m_modelCombo.AddString(L"");
    // The first type in the map's order is chosen and filtered by; the others are listed beside it.
    SortedListFill types(m_endoscopeTypeCombo);
    const std::string* first = nullptr;
    for (const auto& [type, records] : location->endoscopesByType) {
        types.Add(type, &type);
        if (!first) first = &type;
    }
    types.Commit();
    if (first) {
        FilterByEndoscopeType(*first);
        for (int i = 0; i < m_endoscopeTypeCombo.GetCount(); ++i) {
            if (EntryData(m_endoscopeTypeCombo, i) != first) continue;
            m_endoscopeTypeCombo.SetCurSel(i);
            break;
        }
    }
    m_modelCombo.SetCueBanner(L"Model #");
    m_modelCombo.SetCurSel(-1);
}

void CEditImageDetailsCendraDlg::FilterByEndoscopeType(const std::string& type) {
    const CendraLocation* location = SelectedLocation();
    m_serialsByModel = false;
    m_serialCombo.ResetContent();
    m_modelCombo.ResetContent();
    if (!location) return;
    const std::vector<EndoscopeRecord>* records = Find(location->endoscopesByType, type);
    const std::vector<std::string>* models = Find(location->modelsByType, type);
    SortedListFill serials(m_serialCombo), modelList(m_modelCombo);
    if (records) {
        for (const EndoscopeRecord& record : *records) serials.Add(record.serial, &record);
    }
    if (models) {
        for (const std::string& model : *models) modelList.Add(model, &model);
    }
    serials.Commit();
    modelList.Commit();
    if (!location->endoscopes.empty()) {
        m_serialCombo.SetCurSel(0);
        m_modelCombo.SetCurSel(0);
    }
}

void CEditImageDetailsCendraDlg::OnEndoscopeTypeChanged() {
    FilterByEndoscopeType(ListedBytes(m_endoscopeTypeCombo, m_endoscopeTypeCombo.GetCurSel()));
    m_modelCombo.SetCurSel(0);
    m_serialCombo.SetCurSel(0);
}

void CEditImageDetailsCendraDlg::OnSerialChanged() {
    const EndoscopeRecord* record = SerialRecord(m_serialCombo.GetCurSel());
    if (!record) return;
    if (int type = FindListed(m_endoscopeTypeCombo, record->type); type >= 0) m_endoscopeTypeCombo.SetCurSel(type);
    if (int model = FindListed(m_modelCombo, record->model); model >= 0) m_modelCombo.SetCurSel(model);
}

void CEditImageDetailsCendraDlg::OnModelChanged() {
    const int selected = m_modelCombo.GetCurSel();
    if (selected < 0) return;
    if (EntryText(m_modelCombo, selected).empty()) {
        OnLocationChanged();
        m_modelCombo.SetCueBanner(L"Model #");
        m_modelCombo.SetCurSel(-1);
        return;
    }
    m_endoscopeTypeCombo.ResetContent();
    m_serialCombo.ResetContent();
    const std::string model = ListedBytes(m_modelCombo, selected);
    if (m_currentLocation) {
        SortedListFill types(m_endoscopeTypeCombo), serials(m_serialCombo);
        std::unordered_set<std::string> typesListed;
        for (const EndoscopeRecord& record : m_currentLocation->endoscopes) {
            if (record.model != model) continue;
            if (typesListed.insert(record.type).second) types.Add(record.type, &record.type);
            serials.Add(record.serial, &record);
        }
        types.Commit();
        serials.Commit();
    }
    m_serialsByModel = true;
    m_endoscopeTypeCombo.SetCurSel(0);
    m_serialCombo.SetCurSel(0);
}

void CEditImageDetailsCendraDlg::OnBnClickedSaveDetails() {
    ImageMetadata record;
    record.facility = Chosen(m_facilityCombo);
    record.location = Chosen(m_locationCombo);
    record.operatorName = Chosen(m_operatorCombo);
    record.serial = Chosen(m_serialCombo);
    record.model = Chosen(m_modelCombo);
    record.endoscopeType = Chosen(m_endoscopeTypeCombo);
    record.recommendedActions = ItemText(this, IDC_DETAILS_RECOMMENDED_ACTIONS);
    record.comments = ItemText(this, IDC_DETAILS_COMMENTS);
    record.testResult = Chosen(m_testResultCombo);
    record.testDate = ItemText(this, IDC_DETAILS_TEST_DATE);
    record.testTime = ItemText(this, IDC_DETAILS_TEST_TIME);
    if (!m_mainDlg) return;

    const std::wstring& name = m_item.fileName;
    const size_t dot = name.rfind(L'.');
    const std::wstring metaName = (dot == std::wstring::npos ? name : name.substr(0, dot)) + L".meta";
    // The folder in the still capture's form, so the capture's own .meta is the one replaced.
    if (!m_mainDlg->WriteMetaFile(m_mainDlg->m_metadataFolder + L"\\", metaName, record)) {
        // The old file is still whole (details too large for a .meta are not written at all);
        // the operator may try again or cancel.
        ShowMessage(L"The image details could not be saved.", L"Save Error", MB_OK | MB_ICONERROR);
        return;
    }
    m_mainDlg->m_metadataCache[m_mainDlg->m_imagesFolder + L"\\" + name] = record;
    EndDialog(0);
}

void CEditImageDetailsCendraDlg::OnBnClickedCancel() { EndDialog(0); }

BOOL CEditImageDetailsCendraDlg::OnEraseBkgnd(CDC* dc) { return EraseBackgroundWhite(this, dc); }

HBRUSH CEditImageDetailsCendraDlg::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) {
    if (HBRUSH white = CtlColorWhiteIfTransparent(dc, wnd)) return white;
    return CDialogEx::OnCtlColor(dc, wnd, ctlColor);
}
