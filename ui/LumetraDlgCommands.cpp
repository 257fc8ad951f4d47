// The main dialog after start-up: device events, keys, timers, colours, the reference and folder
// commands, and closing.
#include "ui/LumetraDlg.h"
#include "cloud/DialogLook.h"
#include "cloud/EditImageCendraDlg.h"
#include "cloud/SelectReferenceImageCendraDlg.h"
#include "cloud/UploadCendraDlg.h"
#include "recording/VideoRecorder.h"
#include "res/resource.h"
#include "ui/SettingsDlg.h"
#include "video/CompositeVideoSourceProvider.h"
#include <shobjidl.h>
#include <wrl/client.h>
#include <algorithm>
#include <cstdlib>

using Microsoft::WRL::ComPtr;

namespace {
const std::wstring kCaptureNotice = L"Image Captured" + std::wstring(66, L' ');
}

LRESULT CLumetraDlg::OnGraphNotify(WPARAM, LPARAM l) {
    if (l == 27) m_provider->CheckDeviceLost();
    return 0;
}

BOOL CLumetraDlg::PreTranslateMessage(MSG* msg) {
    // Keys skip the dialog's own navigation: Tab, Enter and Esc neither move the focus nor close it.
    if (msg->message == WM_KEYDOWN || msg->message == WM_TIMER) return FALSE;
    BOOL result = CDialogEx::PreTranslateMessage(msg);
    if (msg->message == WM_KEYUP && msg->wParam == VK_SPACE) {
        // On these buttons the space bar is a click, which runs its own command.
        bool clicks = false;
        if (::GetParent(msg->hwnd) == m_hWnd) {
            int id = ::GetDlgCtrlID(msg->hwnd);
            clicks = id == IDC_CAPTURE_IMAGE || id == IDC_CAPTURE_VIDEO || id == IDC_CAPTURE_REFERENCE;
        }
        if (!clicks) DoCaptureAction();
    }
    return result;
}

void CLumetraDlg::OnTimer(UINT_PTR id) {
    if (id == 2) {
        CWnd* date = GetDlgItem(IDC_TEST_DATE);
        CWnd* time = GetDlgItem(IDC_TEST_TIME);
        if (!date || !time) return;
        UpdateClock();
        for (CWnd* edit : {date, time}) {
            edit->Invalidate(TRUE);
            edit->UpdateWindow();
        }
    }
    if (id == 1) {
        KillTimer(1);
        // A later text (a refusal, a recording) is not the notice's to clear.
        CString shown;
        if (m_statusText.m_hWnd) m_statusText.GetWindowText(shown);
        if (m_statusText.m_hWnd && shown.str() == kCaptureNotice) {
            m_statusText.SetWindowText(std::wstring(33, L' ').c_str());
            m_statusText.Invalidate(TRUE);
            m_statusText.UpdateWindow();
        }
    }
    if (m_noticeShown && NoticeExpired(m_noticeTick, TickCount())) {
        m_noticeShown = false;
        m_noticeTick = TickCount();
        SetDlgItemText(IDC_NOTICE, L"");
    }
}

void CLumetraDlg::ShowNotice(std::wstring text) {
    SetDlgItemText(IDC_NOTICE, text.c_str());
    m_noticeShown = true;
    m_noticeTick = TickCount();
}

HBRUSH CLumetraDlg::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) {
    if (ctlColor == CTLCOLOR_STATIC && wnd && wnd->GetDlgCtrlID() == IDC_STATUS) {
        dc->SetTextColor(RGB(255, 0, 0));
        return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    }
    HBRUSH brush = CDialogEx::OnCtlColor(dc, wnd, ctlColor);
    if (wnd && (wnd->GetExStyle() & WS_EX_TRANSPARENT)) {
        dc->SetBkColor(RGB(255, 255, 255));
        return static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    }
    return brush;
}

void CLumetraDlg::OnPaint() {
    if (!IsIconic()) {
        CDialogEx::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    CRect client;
    GetClientRect(&client);
    int x = (client.Width() - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.Height() - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    dc.DrawIcon(x, y, m_icon);
}

HCURSOR CLumetraDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_icon); }

void CLumetraDlg::OnSysCommand(UINT id, LPARAM l) { CDialogEx::OnSysCommand(id, l); }

BOOL CLumetraDlg::OnEraseBkgnd(CDC* dc) { return EraseBackgroundWhite(this, dc); }

void CLumetraDlg::OnSettings() {
    // Every choice takes effect at once; the result says nothing.
    CSettingsDlg dlg(m_provider, &m_videoDisplay, &m_exclusionList);
    dlg.DoModal();
}
void CLumetraDlg::OnOpenReferenceImage() {
    auto* picker = new CSelectReferenceImageCendraDlg(this);
    picker->DoModal();
    bool chosen = picker->m_result;
    std::wstring name = picker->m_currentItem.fileName;
    delete picker;
    if (!chosen || name.empty()) return;
    // An image that cannot be loaded (a picture too large to decode included) leaves no bitmap
    // at 0 x 0: a black view.
    CImage image;
    image.Load((m_imagesFolder + L"\\ReferenceImages\\" + name).c_str());
    m_referenceDisplay.SetImage(image, image.GetWidth(), image.GetHeight());
    m_referenceDisplay.Invalidate(TRUE);
    m_referenceDisplay.UpdateWindow();
}

void CLumetraDlg::OnLogout() {
    StopRecording();  // and the capture controls show idle, as after the operator's own stop
    ResetTestDetails();
    if (!m_statusText.m_hWnd || !GetDlgItem(IDC_CAPTURE_IMAGE)) return;
    SetDlgItemText(IDC_CAPTURE_IMAGE, L"Capture Image");
    SetBannerText("");
    ShowWindow(SW_HIDE);
    ResetTestDetails();
    if (m_online) RunLogin();
}

void CLumetraDlg::OnUpload() {
    if (!m_client) return;  // offline the button is hidden
    auto* upload = new CUploadCendraDlg(this);
    upload->DoModal();
    upload->DestroyWindow();
    delete upload;
}

void CLumetraDlg::OnEditImages() {
    if (!m_client) return;
    auto* edit = new CEditImageCendraDlg(this);
    edit->DoModal();
    delete edit;
}

void CLumetraDlg::OnClearReference() {
    m_referenceDisplay.SetImage(nullptr, m_videoDisplay.width, m_videoDisplay.height);
    m_referenceDisplay.Invalidate(TRUE);
    m_referenceDisplay.UpdateWindow();
}

void CLumetraDlg::OnCaptureReference() {
    if (IsExcluded(m_exclusionList, m_videoDisplay.source)) return;
    CaptureImage(TRUE);
}

void CLumetraDlg::OnFilePrefixChanged() {
    CString text;
    if (CWnd* edit = GetDlgItem(IDC_FILE_PREFIX)) edit->GetWindowText(text);
    m_filePrefix = text.str();
}

void CLumetraDlg::OnFileLocation() {
    ComPtr<IFileOpenDialog> picker;
    if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&picker))))
        return;
    FILEOPENDIALOGOPTIONS options = 0;
    picker->GetOptions(&options);
    picker->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    ComPtr<IShellItem> start;
    if (SUCCEEDED(::SHCreateItemFromParsingName(m_imagesFolder.c_str(), nullptr, IID_PPV_ARGS(&start)))) {
        picker->SetDefaultFolder(start.Get());
        picker->SetFolder(start.Get());
    }
    if (FAILED(picker->Show(nullptr))) return;
    ComPtr<IShellItem> result;
    if (FAILED(picker->GetResult(&result))) return;
    wchar_t* path = nullptr;
    if (FAILED(result->GetDisplayName(SIGDN_FILESYSPATH, &path)) || !path) return;
    std::wstring chosen = path;
    ::CoTaskMemFree(path);
    CWnd* folder = GetDlgItem(IDC_IMAGES_FOLDER);
    if (!folder) return;
    folder->SetWindowText(chosen.c_str());
    MakeFolders(chosen);
}

void CLumetraDlg::CloseDevices() {
    // Marked at once: the failure box below runs messages, and a close or a session end among
    // them must not start the steps again.
    if (m_devicesClosed) return;
    m_devicesClosed = true;
    const bool finished = FinishRecording();  // the file is finished before the process ends
    std::vector<VideoSource*> closed = m_provider->CloseAllSources();
    // A live source the list no longer holds (a lost webcam) still has its graph.
    VideoSource* live = m_videoDisplay.source;
    if (live && std::find(closed.begin(), closed.end(), live) == closed.end()) live->Close();
    // The box below runs messages: a paint with a device-list refresh due would open a camera again.
    m_videoDisplay.LetGoOfSources();
    // Only now: while the box is up the process may end (a session end, a close), and by then
    // every camera must be let go.
    if (!finished) ShowRecordingError();
}

void CLumetraDlg::OnClose() {
    CloseDevices();
    EndProcess(0);
}

// The operator's intent wins: the session may end. Cleaning up waits for WM_ENDSESSION.
BOOL CLumetraDlg::OnQueryEndSession() { return TRUE; }

void CLumetraDlg::OnEndSession(BOOL ending) {
    // The process may be ended at any time after this returns, so the close steps run now. The
    // window stays: the system ends the process, and until then a close finds nothing left to do.
    if (ending) CloseDevices();
}
