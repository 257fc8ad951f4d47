// Still capture and the capture buttons.
#include "ui/LumetraDlg.h"
#include "recording/VideoRecorder.h"
#include "res/resource.h"
#include "ui/StillImage.h"
#include <algorithm>

namespace {
const std::wstring kCaptureNotice = L"Image Captured" + std::wstring(66, L' ');

std::wstring Text(CWnd* dialog, int id) {
    CString text;
    if (CWnd* control = dialog->GetDlgItem(id)) control->GetWindowText(text);
    return text.str();
}
}

ImageMetadata CLumetraDlg::ShownTestDetails() {
    ImageMetadata m;
    // The lists' choices as the service sent them: their shown texts may stand for other bytes.
    m.facility = m_panel.Chosen(m_facilityCombo);
    m.location = m_panel.Chosen(m_locationCombo);
    m.operatorName = m_panel.Chosen(m_operatorCombo);
    m.serial = m_panel.Chosen(m_serialCombo);
    m.model = m_panel.Chosen(m_modelCombo);
    m.endoscopeType = m_panel.Chosen(m_endoscopeTypeCombo);
    m.recommendedActions = Text(this, IDC_RECOMMENDED_ACTIONS);
    m.comments = Text(this, IDC_COMMENTS);
    m.testResult = Text(this, IDC_TEST_RESULT);
    m.testDate = Text(this, IDC_TEST_DATE);
    m.testTime = Text(this, IDC_TEST_TIME);
    return m;
}

bool CLumetraDlg::FileExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CLumetraDlg::DeleteClaimed(ClaimedFile& file) { return file.Delete(); }

bool CLumetraDlg::WriteMetaFile(std::wstring folder, std::wstring fileName, const ImageMetadata& record) {
    return ::WriteMetaFile(folder, fileName, record);
}

BOOL CLumetraDlg::CaptureImage(BOOL asReference) {
    if (!GetDlgItem(IDC_FILE_PREFIX)) return FALSE;
    const std::wstring& folder = asReference ? m_referenceFolder : m_imagesFolder;
    HBITMAP bitmap = m_videoDisplay.GetBitmap();
    bool written = false;
    std::wstring bmpPath;
    ImageMetadata details;
    std::string metaText;
    // Online an image is only whole with its details (without them it would upload empty), and
    // details too large for a .meta would be read back as none: such a still cannot be written.
    const bool detailsFit = !m_online || MetaFileText(details = ShownTestDetails(), metaText);
    // Without a folder the path would name the drive's root; without a painted frame, nothing.
    if (!folder.empty() && bitmap && detailsFit) {
        MakeMissingFolders();
        const std::wstring metaFolder = m_metadataFolder + L"\\";
        auto bmpOf = [&](const std::wstring& s) { return folder + L"\\" + s + L".bmp"; };
        auto metaOf = [&](const std::wstring& s) { return metaFolder + s + L".meta"; };
        // Another copy of the program may write the same folders: the names are created before
        // anything is written, so a name it took meanwhile passes to the next index. Ordinary and
        // reference stills share the metadata folder, so online the .meta is claimed too. Both
        // are written through the handles that created them: nobody else opens them meanwhile.
        ClaimedFile bmp, meta;
        std::wstring timestamp = CTime(Now()).Format(L"%Y%m%d%H%M%S").str();
        const std::wstring stem = ClaimCaptureStem(
            timestamp, m_filePrefix, m_fileIndex,
            [&](const std::wstring& s) { return FileExists(bmpOf(s)) || FileExists(metaOf(s)); },
            [&](const std::wstring& s) {
                const NewFile image = bmp.Create(bmpOf(s));
                if (image != NewFile::Created || !m_online) return image;
                const NewFile record = meta.Create(metaOf(s));
                if (record != NewFile::Created) DeleteClaimed(bmp);
                return record;
            });
        if (!stem.empty()) {
            bmpPath = bmpOf(stem);
            BitmapInfoPtr info = CreateBitmapInfo(bitmap);
            written = info && WriteBmpFile(bmp, info.get(), bitmap, m_videoDisplay.memoryDC);
            if (written && m_online)
                written = meta.Write(metaText.data(), static_cast<DWORD>(metaText.size())) && meta.Flush();
            written = written && bmp.Release() && (!m_online || meta.Release());
            // Both names are this capture's own: a failed one leaves neither, each deleted once.
            if (written) {
                bmp.Keep();
                meta.Keep();
            } else {
                DeleteClaimed(bmp);
                if (m_online) DeleteClaimed(meta);
            }
        }
    }
    if (!written) {
        ShowMessage(L"Could not capture image. Please ensure write access to destination directory.", L"Capture Error",
                   MB_ICONERROR);
        return FALSE;
    }
    if (asReference) {
        m_referenceDisplay.SetImage(bitmap, m_videoDisplay.width, m_videoDisplay.height);
        m_referenceDisplay.Invalidate(TRUE);
        m_referenceDisplay.UpdateWindow();
    }
    if (m_online) m_metadataCache[bmpPath] = details;
    return TRUE;
}

void CLumetraDlg::CaptureStillWithNotice() {
    if (!m_statusText.m_hWnd) return;
    m_statusText.SetWindowText(kCaptureNotice.c_str());
    m_statusText.Invalidate(TRUE);
    m_statusText.UpdateWindow();
    if (CaptureImage(FALSE)) {
        SetTimer(1, 1500);
    } else {
        m_statusText.SetWindowText(std::wstring(66, L' ').c_str());
    }
    m_statusText.Invalidate(TRUE);
    m_statusText.UpdateWindow();
}

void CLumetraDlg::SetButtonWeight(CWnd* button, int weight) {
    CFont& font = weight >= 700 ? m_boldFont : m_normalFont;
    // Made once from the button's font and kept: the button uses it for the dialog's lifetime.
    if (!font.GetSafeHandle()) {
        LOGFONTW lf{};
        CFont* current = button->GetFont();
        if (current) current->GetLogFont(&lf);
        else ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
        lf.lfWeight = weight;
        font.CreateFontIndirect(&lf);
    }
    button->SetFont(&font, TRUE);
}

void CLumetraDlg::OnCaptureImageMode() {
    m_captureMode = 0;
    CWnd* image = GetDlgItem(IDC_CAPTURE_IMAGE);
    CWnd* video = GetDlgItem(IDC_CAPTURE_VIDEO);
    if (!image || !video) return;
    SetButtonWeight(video, FW_NORMAL);
    DoCaptureAction();
}

void CLumetraDlg::OnCaptureVideoMode() {
    m_captureMode = 1;
    CWnd* image = GetDlgItem(IDC_CAPTURE_IMAGE);
    if (!image) return;
    image->EnableWindow(FALSE);
    SetButtonWeight(image, FW_NORMAL);
    CWnd* video = GetDlgItem(IDC_CAPTURE_VIDEO);
    if (!video) return;
    SetButtonWeight(video, FW_BOLD);
    DoCaptureAction();
}

void CLumetraDlg::StopRecording(bool reportNow) {
    if (FinishRecording()) return;
    if (reportNow) ShowRecordingError();
    else PostMessage(WM_RECORDING_NOT_FINISHED);
}

bool CLumetraDlg::FinishRecording() {
    if (!m_recorder) return true;
    const bool finished = m_recorder->Stop();
    m_videoDisplay.SetRecorder(nullptr);
    // A failed recording without a single picture is no recording: it leaves no file, a failed
    // start among them. Deleted here only, while the name is still this recording's.
    if (!finished && m_recorder->encoder->PicturesInFile() == 0) DeleteClaimed(m_recordingFile);
    else m_recordingFile.Keep();
    delete m_recorder;
    m_recorder = nullptr;
    ShowRecordingIdle();
    return finished;
}

void CLumetraDlg::ShowRecordingIdle() {
    if (!m_statusText.m_hWnd) return;
    if (CWnd* video = GetDlgItem(IDC_CAPTURE_VIDEO)) video->EnableWindow(TRUE);
    if (CWnd* image = GetDlgItem(IDC_CAPTURE_IMAGE)) image->EnableWindow(TRUE);
    m_captureVideoButton.ResetColors();
    m_statusText.SetWindowText(std::wstring(66, L' ').c_str());
    m_statusText.Invalidate(TRUE);
    m_statusText.UpdateWindow();
    if (CWnd* video = GetDlgItem(IDC_CAPTURE_VIDEO)) {
        video->SetWindowText(L"Capture Video");
        SetButtonWeight(video, FW_NORMAL);
    }
}

void CLumetraDlg::ShowRecordingError() {
    ShowMessage(L"Could not record video. Please ensure write access to destination directory.", L"Capture Error",
                MB_ICONERROR);
}

void CLumetraDlg::StartRecording() {
    m_captureVideoButton.SetColors(RGB(1, 1, 1), RGB(255, 0, 0));
    m_captureVideoButton.SetWindowText(L"Stop Capture");
    std::wstring timestamp = CTime(Now()).Format(L"%Y%m%d%H%M%S").str();
    RecordingFormat format = RecordingFormatOf(m_videoDisplay.videoFormat);
    m_videoDisplay.doubleFrames = format.doubleFrames;
    CString prefix;
    if (CWnd* edit = GetDlgItem(IDC_FILE_PREFIX)) edit->GetWindowText(prefix);
    auto pathOf = [&](const std::wstring& s) { return m_imagesFolder + L"\\" + s + format.extension; };
    // Without a painted frame there is no size to record at, and no folder means no file. The file
    // is created here, before the encoder opens it as its own: another copy of the program writing
    // the same folder then takes the next index instead of writing into this one.
    std::wstring stem;
    if (m_videoDisplay.GetBitmap() && !m_imagesFolder.empty()) {
        MakeMissingFolders();
        stem = ClaimCaptureStem(
            timestamp, prefix.str(), m_fileIndex, [&](const std::wstring& s) { return FileExists(pathOf(s)); },
            [&](const std::wstring& s) { return m_recordingFile.Create(pathOf(s)); });
    }
    if (stem.empty()) {
        ShowRecordingIdle();
        ShowRecordingError();
        return;
    }
    const std::wstring path = pathOf(stem);
    // The encoder opens the file by its name: the handle goes, the name stays this recording's.
    m_recordingFile.Release();
    int bits = m_videoDisplay.resolution ? m_videoDisplay.resolution->bitsPerPixel : 24;
    m_recorder = NewRecorder(path, m_videoDisplay.width, m_videoDisplay.height, bits, m_videoDisplay.videoFormat);
    int period = std::max<int>(static_cast<int>(m_videoDisplay.msBetweenPaints), 16);
    if (!m_recorder->Start(path, period)) {
        FinishRecording();  // deletes the file: nothing was recorded into it
        ShowRecordingError();
        return;
    }
    m_videoDisplay.SetRecorder(m_recorder);
    if (m_statusText.m_hWnd) m_statusText.SetWindowText(L"      Recording...     ");
}

CVideoRecorder* CLumetraDlg::NewRecorder(const std::wstring& path, int width, int height, int bits, int format) {
    return new CVideoRecorder(path, width, height, bits, format);
}

LRESULT CLumetraDlg::OnRecordingStopped(WPARAM, LPARAM l) {
    auto* recorder = reinterpret_cast<CVideoRecorder*>(l);
    if (!recorder || recorder != m_recorder) return 0;  // ended meanwhile by the operator
    const bool full = recorder->State() == RecordingState::Full;
    // One box: a full file that also failed to finish is a failure.
    if (FinishRecording() && full)
        ShowMessage(L"The recording was stopped because the video file reached its size limit.", L"Recording Stopped",
                    MB_ICONWARNING);
    else
        ShowRecordingError();
    return 0;
}

LRESULT CLumetraDlg::OnRecordingNotFinished(WPARAM, LPARAM) {
    ShowRecordingError();
    return 0;
}

void CLumetraDlg::DoCaptureAction() {
    if (m_online && m_captureMode == 0 && !AreTestDetailsComplete()) {
        if (!m_statusText.m_hWnd) return;
        m_statusText.SetWindowText(L"Please ensure all metadata is defined before capture.");
        m_statusText.Invalidate(TRUE);
        m_statusText.UpdateWindow();
        return;
    }
    if (m_captureMode == 0) {
        CaptureStillWithNotice();
        return;
    }
    if (m_recorder) StopRecording();
    else StartRecording();
}
