// The main window: a modeless dialog on template 102 with the live and reference views, the
// test-details panel, the capture buttons and the image folders. Its methods live in files by
// concern: start-up (LumetraDlg.cpp), commands and timers (LumetraDlgCommands.cpp), capture
// (LumetraDlgCapture.cpp) and the test details (LumetraDlgDetails.cpp).
#pragma once
#include "framework/Framework.h"
#include "ui/ColorButton.h"
#include "ui/Exclusions.h"
#include "ui/ImageMetadata.h"
#include "ui/ReferenceDisplay.h"
#include "ui/StillImage.h"
#include "ui/TestDetailsPanel.h"
#include "ui/VideoDisplay.h"
#include <cstdlib>
#include <ctime>

// Graph events of the webcams (the number is the system's WM_CANCELMODE, which this dialog thus
// ignores).
constexpr UINT WM_GRAPHNOTIFY = 0x001F;
// Posted by the live view when its recorder refused a frame; lParam is the recorder.
constexpr UINT WM_RECORDING_STOPPED = WM_APP + 2;
// Posted by StopRecording from within a paint when the file could not be finished.
constexpr UINT WM_RECORDING_NOT_FINISHED = WM_APP + 3;

class CompositeVideoSourceProvider;
class CVideoRecorder;
class CendraClient;
struct CendraLocation;
struct CendraSession;

class CLumetraDlg : public CDialogEx {
public:
    explicit CLumetraDlg(BOOL online, CWnd* parent = nullptr);
    ~CLumetraDlg() override;

    // Writes the still at the live view's last painted frame (into the reference folder when
    // asReference); online also its test details. TRUE when the .bmp was written.
    BOOL CaptureImage(BOOL asReference);
    // The .meta service of the dialogs that write test details: true when the file was written.
    bool WriteMetaFile(std::wstring folder, std::wstring fileName, const ImageMetadata& record);
    void ShowNotice(std::wstring text);
    // Ends a running recording: the encoder finishes its file, the live view stops feeding it,
    // the capture controls show idle again. Nothing when none runs. When the file could not be
    // finished the operator is told, at once or (reportNow false: from within a paint, where a
    // modal box would paint the live view again mid-paint) once the dialog's messages run.
    void StopRecording(bool reportNow = true);
    // Before the process ends: the recording finished, every source closed, the live one too,
    // and only then the box of a recording that could not be finished. Once: a close after a
    // session end (or a second session end, or either while that box is up) closes nothing again.
    void CloseDevices();
    // Empties the test-details panel, then shows text (the service's UTF-8) in the banner.
    void SetBannerText(std::string text);

    CompositeVideoSourceProvider* m_provider = nullptr;
    int m_fileIndex = 0;
    CVideoRecorder* m_recorder = nullptr;
    ClaimedFile m_recordingFile;  // the running recording's name, created by this program
    CFont m_boldFont, m_normalFont;
    HICON m_icon;
    int m_captureMode = 0;
    std::vector<ExcludedCamera> m_exclusionList;
    std::wstring m_referenceFolder;
    CendraLocation* m_currentLocation = nullptr;
    ULONG_PTR m_gdiplusToken = 0;
    std::wstring m_imagesFolder;
    std::wstring m_metadataFolder;
    std::wstring m_filePrefix;
    CendraClient* m_client = nullptr;
    MetadataCache m_metadataCache;
    bool m_noticeShown = false;
    DWORD m_noticeTick = 0;
    BOOL m_online;
    bool m_devicesClosed = false;  // CloseDevices ran

    CColorButton m_captureImageButton;
    CColorButton m_captureVideoButton;
    CColorButton m_settingsButton;
    CColorButton m_uploadButton;
    CColorButton m_editImagesButton;
    CVideoDisplay m_videoDisplay;
    CStatic m_statusText;
    CReferenceDisplay m_referenceDisplay;
    CComboBox m_facilityCombo;
    CComboBox m_locationCombo;
    CComboBox m_endoscopeTypeCombo;
    CComboBox m_serialCombo;
    CComboBox m_modelCombo;
    CComboBox m_operatorCombo;
    CComboBox m_testResultCombo;
    CImage m_logo;  // shown by control 1027 as long as the dialog lives
    TestDetailsPanel m_panel;

    // Whether a notice shown at shownTick is due to go at now (more than 5000 ms, tick wrap safe).
    static bool NoticeExpired(DWORD shownTick, DWORD now) { return now - shownTick > 5000; }

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL PreTranslateMessage(MSG* msg) override;
    BOOL OnInitDialog() override;

    // Seams for tests: the clocks and the user's profile folder.
    virtual DWORD TickCount() { return ::GetTickCount(); }
    virtual std::time_t Now() { return std::time(nullptr); }
    virtual bool ProfileFolder(std::wstring& folder);
    // The modal login of online mode; takes the logged-in client and fills the panel from it.
    virtual void RunLogin();
    // Owns the client from now on; the previous one is deleted.
    void TakeClient(CendraClient* client);
    // Seam for tests: whether a file of a capture's name is there (another program may create one
    // right after this said no).
    virtual bool FileExists(const std::wstring& path);
    // Seam for tests: deletes a file that a capture created and does not keep (ClaimedFile::Delete);
    // another program may create one of that name right after.
    virtual bool DeleteClaimed(ClaimedFile& file);
    // Seam for tests: how the close ends the process.
    virtual void EndProcess(int exitCode) { std::exit(exitCode); }
    // Every message box of the dialog, owned by it.
    virtual int ShowMessage(const wchar_t* text, const wchar_t* caption, UINT type) {
        return MessageBox(text, caption, type);
    }

    // Start-up.
    void ActivateFirstSource();
    void MakeFolders(const std::wstring& imagesFolder);
    // The images folder and its reference and metadata folders, made where missing: an operator
    // may have moved one away since. Before every still and recording, as at start-up.
    void MakeMissingFolders();
    void ShowLogo();
    void ShowFailedDevices(const std::vector<VideoSource*>& failed);
    void UpdateClock();
    LRESULT OnFocusLiveView(WPARAM, LPARAM);

    // Commands, timers, keyboard and shut-down.
    LRESULT OnGraphNotify(WPARAM w, LPARAM l);
    void OnSysCommand(UINT id, LPARAM l);
    BOOL OnEraseBkgnd(CDC* dc);
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);
    void OnPaint();
    void OnTimer(UINT_PTR id);
    HCURSOR OnQueryDragIcon();
    void OnFilePrefixChanged();
    void OnSettings();
    void OnOpenReferenceImage();
    void OnFileLocation();
    void OnCaptureReference();
    void OnClearReference();
    void OnLogout();
    void OnUpload();
    void OnEditImages();
    void OnClose();
    // A log-off or shut-down ends the process without a WM_CLOSE once these return.
    BOOL OnQueryEndSession();
    void OnEndSession(BOOL ending);

    // Capture.
    void OnCaptureImageMode();
    void OnCaptureVideoMode();
    void DoCaptureAction();
    void CaptureStillWithNotice();
    // The eleven test-detail controls as they show now; a list's choice in the service's bytes
    // (TestDetailsPanel::Chosen).
    ImageMetadata ShownTestDetails();
    void SetButtonWeight(CWnd* button, int weight);
    void StartRecording();
    // The stop steps without telling the operator; false when the file could not be finished.
    bool FinishRecording();
    // The capture controls and the status line as when no recording runs.
    void ShowRecordingIdle();
    void ShowRecordingError();
    // The live view's word that a recording cannot go on (lParam: that recorder).
    LRESULT OnRecordingStopped(WPARAM, LPARAM recorder);
    LRESULT OnRecordingNotFinished(WPARAM, LPARAM);
    // Seam for tests: the recorder a recording starts with.
    virtual CVideoRecorder* NewRecorder(const std::wstring& path, int width, int height, int bits, int format);

    // Test details.
    const CendraSession* Session() const;
    void ResetTestDetails();
    void ApplyOfflineLayout();
    void FillAccountCombos();
    bool AreTestDetailsComplete() const;
    void OnLocationChanged();
    void OnEndoscopeTypeChanged();
    void FilterByEndoscopeType(const std::string& type);
    void OnModelChanged();
    void OnSerialChanged();

    DECLARE_MESSAGE_MAP()
};
