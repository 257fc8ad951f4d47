// The main dialog: construction, controls, message map and start-up.
#include "ui/LumetraDlg.h"
#include "res/resource.h"
#include "cloud/CendraClient.h"
#include "cloud/LoginDlg.h"
#include "video/CompositeVideoSourceProvider.h"
#include <gdiplus.h>
#include <shlobj.h>
#include <cstdlib>

namespace {
// Posted from OnInitDialog: runs after the dialog manager has chosen its own initial focus.
constexpr UINT kFocusLiveViewMessage = WM_APP + 1;
}

CLumetraDlg::CLumetraDlg(BOOL online, CWnd* parent)
    : CDialogEx(IDD_LUMETRA_DIALOG, parent),
      m_icon(::LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      m_online(online),
      m_panel({&m_facilityCombo, &m_locationCombo, &m_endoscopeTypeCombo, &m_serialCombo, &m_modelCombo,
               &m_operatorCombo, &m_testResultCombo, this, IDC_COMMENTS,
               IDC_RECOMMENDED_ACTIONS},
              m_currentLocation) {}

BEGIN_MESSAGE_MAP(CLumetraDlg, CDialogEx)
    ON_WM_SYSCOMMAND()
    ON_WM_ERASEBKGND()
    ON_WM_CTLCOLOR()
    ON_WM_PAINT()
    ON_WM_TIMER()
    ON_WM_QUERYDRAGICON()
    ON_EN_CHANGE(IDC_FILE_PREFIX, &CLumetraDlg::OnFilePrefixChanged)
    ON_BN_CLICKED(IDC_SETTINGS, &CLumetraDlg::OnSettings)
    ON_BN_CLICKED(IDC_OPEN_REFERENCE, &CLumetraDlg::OnOpenReferenceImage)
    ON_BN_CLICKED(IDC_FILE_LOCATION, &CLumetraDlg::OnFileLocation)
    ON_BN_CLICKED(IDC_CAPTURE_REFERENCE, &CLumetraDlg::OnCaptureReference)
    ON_BN_CLICKED(IDC_CLEAR_REFERENCE, &CLumetraDlg::OnClearReference)
    ON_BN_CLICKED(IDC_CAPTURE_IMAGE, &CLumetraDlg::OnCaptureImageMode)
    ON_BN_CLICKED(IDC_CAPTURE_VIDEO, &CLumetraDlg::OnCaptureVideoMode)
    ON_BN_CLICKED(IDC_LOGOUT, &CLumetraDlg::OnLogout)
    ON_BN_CLICKED(IDC_UPLOAD, &CLumetraDlg::OnUpload)
    ON_BN_CLICKED(IDC_EDIT_IMAGES, &CLumetraDlg::OnEditImages)
    ON_CBN_SELCHANGE(IDC_LOCATION, &CLumetraDlg::OnLocationChanged)
    ON_CBN_SELCHANGE(IDC_ENDOSCOPE_TYPE, &CLumetraDlg::OnEndoscopeTypeChanged)
    ON_CBN_SELCHANGE(IDC_MODEL, &CLumetraDlg::OnModelChanged)
    ON_CBN_SELCHANGE(IDC_SERIAL, &CLumetraDlg::OnSerialChanged)
    ON_MESSAGE(WM_GRAPHNOTIFY, &CLumetraDlg::OnGraphNotify)
    ON_WM_CLOSE()
    ON_WM_QUERYENDSESSION()
    ON_WM_ENDSESSION()
    ON_MESSAGE(kFocusLiveViewMessage, &CLumetraDlg::OnFocusLiveView)
    ON_MESSAGE(WM_RECORDING_STOPPED, &CLumetraDlg::OnRecordingStopped)
    ON_MESSAGE(WM_RECORDING_NOT_FINISHED, &CLumetraDlg::OnRecordingNotFinished)
END_MESSAGE_MAP()

void CLumetraDlg::DoDataExchange(CDataExchange* dx) {
    CDialogEx::DoDataExchange(dx);
    DDX_Control(dx, IDC_CAPTURE_IMAGE, m_captureImageButton);
    DDX_Control(dx, IDC_CAPTURE_VIDEO, m_captureVideoButton);
    DDX_Control(dx, IDC_SETTINGS, m_settingsButton);
    DDX_Control(dx, IDC_UPLOAD, m_uploadButton);
    DDX_Control(dx, IDC_EDIT_IMAGES, m_editImagesButton);
    DDX_Control(dx, IDC_VIDEO_DISPLAY, m_videoDisplay);
    DDX_Control(dx, IDC_STATUS, m_statusText);
    DDX_Control(dx, IDC_REFERENCE_DISPLAY, m_referenceDisplay);
    DDX_Control(dx, IDC_FACILITY, m_facilityCombo);
    DDX_Control(dx, IDC_LOCATION, m_locationCombo);
    DDX_Control(dx, IDC_ENDOSCOPE_TYPE, m_endoscopeTypeCombo);
    DDX_Control(dx, IDC_SERIAL, m_serialCombo);
    DDX_Control(dx, IDC_MODEL, m_modelCombo);
    DDX_Control(dx, IDC_OPERATOR, m_operatorCombo);
    DDX_Control(dx, IDC_TEST_RESULT, m_testResultCombo);
}

void CLumetraDlg::ActivateFirstSource() {
    std::vector<VideoSource*> sources = *m_provider->GetVideoSources();
    if (sources.empty() || !sources.front()) return;
    if (sources.front()->Start()) sources.front()->UpdateFrame();
}

bool CLumetraDlg::ProfileFolder(std::wstring& folder) {
    wchar_t path[MAX_PATH];
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, path))) return false;
    folder = path;
    return true;
}

void CLumetraDlg::MakeFolders(const std::wstring& imagesFolder) {
    m_imagesFolder = imagesFolder;
    m_referenceFolder = m_imagesFolder + L"\\ReferenceImages\\";
    m_metadataFolder = m_imagesFolder + L"\\metadata\\";
    MakeMissingFolders();
}

void CLumetraDlg::MakeMissingFolders() {
    // Failures show later, as failed captures. A folder that exists already is fine.
    ::CreateDirectoryW(m_imagesFolder.c_str(), nullptr);
    ::CreateDirectoryW(m_referenceFolder.c_str(), nullptr);
    ::CreateDirectoryW(m_metadataFolder.c_str(), nullptr);
    ::SetFileAttributesW(m_metadataFolder.c_str(), FILE_ATTRIBUTE_HIDDEN);
}

void CLumetraDlg::ShowLogo() {
    wchar_t folder[MAX_PATH];
    DWORD n = ::GetCurrentDirectoryW(MAX_PATH, folder);
    if (n == 0 || n >= MAX_PATH) return;  // a longer path is a missing logo, not a cut one
    std::wstring path = std::wstring(folder, n) + L"\\velmora_app.png";
    CWnd* logo = GetDlgItem(IDC_LOGO);
    if (!logo) return;
    m_logo.Load(path.c_str());
    logo->ModifyStyle(SS_TYPEMASK, SS_BITMAP, SWP_NOSIZE);
    // The image stays a member: the control shows this very bitmap for the dialog's lifetime.
    logo->SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(static_cast<HBITMAP>(m_logo)));
}

void CLumetraDlg::ShowFailedDevices(const std::vector<VideoSource*>& failed) {
    if (failed.empty()) return;
    // Descriptions hold the device's bytes as they came, not UTF-8: widen them byte by byte.
    std::wstring text = L"Some devices couldn't be initialized: \r\n\r\n";
    for (VideoSource* s : failed) text += WidenString(s->description) + L"\r\n";
    text += L"\r\nCheck that the drivers are installed and the device(s) aren't in use.";
    ShowMessage(text.c_str(), L"Device Error", MB_ICONWARNING);
}

void CLumetraDlg::UpdateClock() {
    CWnd* date = GetDlgItem(IDC_TEST_DATE);
    CWnd* time = GetDlgItem(IDC_TEST_TIME);
    if (!date || !time) return;
    CTime now(Now());
    date->SetWindowText(now.Format(L"%m/%d/%Y"));
    time->SetWindowText(now.Format(L"%H:%M"));
}

BOOL CLumetraDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    m_provider->SetNotifyWindow(m_hWnd);  // the application's main window, which is this dialog
    SetIcon(m_icon, FALSE);
    SetWindowText(L"Velmora Lumetra v6.0.0");
    ResetTestDetails();
    ActivateFirstSource();

    std::wstring profile;
    if (ProfileFolder(profile)) MakeFolders(profile + L"\\Lumetra");

    std::vector<VideoSource*> sources = *m_provider->GetVideoSources();
    m_videoDisplay.owner = this;
    m_videoDisplay.provider = m_provider;
    if (!sources.empty()) m_videoDisplay.SetSource(sources.front());
    std::vector<VideoSource*> failed = *m_provider->GetFailedVideoSources();
    if (sources.empty()) {
        ShowMessage(L"No video devices detected. Please connect a device and restart Lumetra.", L"No Devices Found",
                   MB_ICONWARNING);
        std::exit(1);
    }

    CWnd* folder = GetDlgItem(IDC_IMAGES_FOLDER);
    if (!folder) return TRUE;
    folder->SetWindowText(m_imagesFolder.c_str());
    ShowLogo();
    ShowFailedDevices(failed);
    if (!GetDlgItem(IDC_TEST_DATE) || !GetDlgItem(IDC_TEST_TIME)) return TRUE;
    UpdateClock();
    SetTimer(2, 1000);

    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&m_gdiplusToken, &input, nullptr);

    if (m_online) RunLogin();
    else ApplyOfflineLayout();
    // The first space bar must take a still, not press whichever button got the focus.
    PostMessage(kFocusLiveViewMessage);
    return TRUE;
}

void CLumetraDlg::RunLogin() {
    auto* login = new CLoginDlg(this);
    login->DoModal();  // ends the process when closed without a login
    TakeClient(login->ReleaseClient());
    delete login;
    FillAccountCombos();
}

void CLumetraDlg::TakeClient(CendraClient* client) {
    // The panel was emptied by the login's banner: nothing points into the old session any more.
    m_currentLocation = nullptr;
    delete m_client;
    m_client = client;
}

CLumetraDlg::~CLumetraDlg() { delete m_client; }

LRESULT CLumetraDlg::OnFocusLiveView(WPARAM, LPARAM) {
    if (m_videoDisplay.m_hWnd) ::SetFocus(m_videoDisplay.m_hWnd);
    return 0;
}
