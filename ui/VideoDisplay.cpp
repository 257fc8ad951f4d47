#include "ui/VideoDisplay.h"
#include <algorithm>
#include <cstring>
#include <vector>
#include "recording/VideoRecorder.h"
#include "ui/Dib.h"
#include "ui/LumetraDlg.h"

namespace {

// Frames handed to the recorder are at least this far apart.
constexpr DWORD kRecordPeriodMs = 35;

}  // namespace

BEGIN_MESSAGE_MAP(CVideoDisplay, CStatic)
    ON_WM_PAINT()
END_MESSAGE_MAP()

CVideoDisplay::~CVideoDisplay() { DropPicture(); }

BOOL CVideoDisplay::PreTranslateMessage(MSG* msg) {
    if (msg->message == WM_KEYDOWN || msg->message == WM_TIMER) return FALSE;
    return CStatic::PreTranslateMessage(msg);
}

void CVideoDisplay::SetSource(VideoSource* newSource) {
    if (newSource == source) return;
    // A recording is of one source at one size: it ends, its file complete, before either changes.
    EndRecording();
    if (source) source->Stop();
    resolution = newSource && !newSource->resolutions.empty() ? newSource->resolutions.front() : nullptr;
    source = newSource;
    DropPicture();
    // Nothing to open a source at when it lists no format; it stays current and the view black.
    if (!resolution) return;
    source->Open(resolution);
    source->Start();
    source->UpdateFrame();
}

void CVideoDisplay::SetResolution(VideoResolution* newResolution) {
    if (!newResolution || newResolution == resolution || !source || source->resolutions.size() <= 1) return;
    EndRecording();
    source->Stop();
    resolution = newResolution;
    DropPicture();
    source->Open(resolution);
    source->Start();
    source->UpdateFrame();
}

void CVideoDisplay::LetGoOfSources() {
    source = nullptr;
    resolution = nullptr;
    provider = nullptr;
    DropPicture();
}

void CVideoDisplay::RequestCapture() {
    if (owner) owner->CaptureImage(FALSE);
}

void CVideoDisplay::EndRecording() {
    if (owner) owner->StopRecording(!m_refreshing);
}

void CVideoDisplay::ReportRecordingStopped(CVideoRecorder* stopped) {
    if (owner && owner->m_hWnd) owner->PostMessage(WM_RECORDING_STOPPED, 0, reinterpret_cast<LPARAM>(stopped));
}

void CVideoDisplay::DropPicture() {
    // The DIB section is selected into the memory DC, so the DC goes first.
    memoryDC.DeleteDC();
    if (dibSection) ::DeleteObject(dibSection);
    dibSection = nullptr;
    m_bits = nullptr;
    needsReinit = 1;
}

void CVideoDisplay::PaintBlack() {
    CPaintDC dc(this);
    CRect client;
    GetClientRect(&client);
    ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
}

void CVideoDisplay::Rebuild(const VideoResolution& r, CDC& paintDC) {
    width = r.width;
    height = r.height;
    bitmapInfo = DibInfo(r.width, r.height, r.bitsPerPixel);  // bottom-up rows

    void* bits = nullptr;
    HBITMAP newDib = ::CreateDIBSection(paintDC, &bitmapInfo, DIB_RGB_COLORS, &bits, nullptr, 0);
    HBITMAP oldDib = dibSection;
    // Replacing the memory DC deletes the old one, which releases the old DIB section from it;
    // only then can that bitmap be deleted.
    memoryDC.CreateCompatibleDC(&paintDC);
    if (newDib) memoryDC.SelectObject(newDib);
    if (oldDib) ::DeleteObject(oldDib);
    dibSection = newDib;
    m_bits = static_cast<unsigned char*>(bits);
    needsReinit = 0;
}

void CVideoDisplay::CopyFrame(const VideoFrame* frame) {
    if (!m_bits) return;
    const int bytesPerPixel = bitmapInfo.bmiHeader.biBitCount / 8;
    const size_t rowBytes = static_cast<size_t>(width) * bytesPerPixel;
    const size_t stride = static_cast<size_t>(DibStride(width, bitmapInfo.bmiHeader.biBitCount));
    // GDI may still be drawing from the bitmap (the last StretchBlt); it must finish first.
    ::GdiFlush();
    // The frame's row 0 is the top of the picture, which a bottom-up DIB keeps in its last row.
    unsigned char* row = m_bits + stride * (height - 1);
    for (int y = 0; y < height; ++y, row -= stride) std::memcpy(row, frame + rowBytes * y, rowBytes);
}

void CVideoDisplay::OnPaint() {
    if (!source) {
        CPaintDC dc(this);
        return;
    }
    if (provider && provider->NeedsRefresh()) {
        std::vector<VideoSource*>* listed = provider->GetVideoSources();
        std::vector<VideoSource*> sources = listed ? *listed : std::vector<VideoSource*>();
        // A device lost elsewhere leaves the live one, and a recording of it, alone.
        if (std::find(sources.begin(), sources.end(), source) == sources.end()) {
            m_refreshing = true;
            if (!sources.empty()) {
                SetSource(sources.front());
            } else {
                // The live device is gone and nothing can take its place: its recording ends
                // and its last picture goes with it.
                EndRecording();
                DropPicture();
            }
            m_refreshing = false;
        }
        // Left invalid: the next paint, at once, shows the source of the fresh list.
        return;
    }
    const VideoFrame* frame = source->GetFrame(nullptr);
    const VideoResolution* r = resolution;
    if (!r && !source->resolutions.empty()) r = source->resolutions.front();
    if (!frame || !r) {
        // The source shows nothing now: neither the view nor a capture may hold on to an older
        // picture, which may be another camera's.
        DropPicture();
        PaintBlack();
        // A source publishes its device's first frame in UpdateFrame: without this call one that
        // had none when it started would never show one. A source without a format was never opened.
        if (r && source->UpdateFrame() == UpdateFrameRemoteCapture && owner) RequestCapture();
        return;
    }

    int updateResult;
    {
        CPaintDC dc(this);
        // A resolution assigned without SetResolution must not overrun the bitmap either.
        if (needsReinit || !dibSection || width != r->width || height != r->height ||
            bitmapInfo.bmiHeader.biBitCount != r->bitsPerPixel)
            Rebuild(*r, dc);

        OnPaintStep(PaintStep::Copy);
        CopyFrame(frame);

        OnPaintStep(PaintStep::Stretch);
        CRect client;
        GetClientRect(&client);
        dc.SetStretchBltMode(COLORONCOLOR);
        dc.StretchBlt(0, 0, client.right, client.bottom, &memoryDC, 0, 0, r->width, r->height, SRCCOPY);

        const DWORD now = TickCount();
        msBetweenPaints = now - lastPaintTick;
        msSinceRecorded = now - lastRecordTick;
        // A recorder made for another size would read past the frame; it gets nothing.
        if (recorder && msSinceRecorded >= kRecordPeriodMs && recorder->width == width && recorder->height == height) {
            bool fed = recorder->AddFrame(frame, dibSection);
            if (fed && doubleFrames) fed = recorder->AddFrame(frame, dibSection);
            lastRecordTick = now;
            if (!fed) {
                // The owner ends it and tells the operator, outside the paint handler.
                CVideoRecorder* stopped = recorder;
                recorder = nullptr;
                ReportRecordingStopped(stopped);
            }
        }

        // The frame stays valid until here: the recorder has had it.
        OnPaintStep(PaintStep::Update);
        updateResult = source->UpdateFrame();
        lastPaintTick = now;
        OnPaintStep(PaintStep::Done);
    }
    // After the end of painting: the capture shows its own windows and reads the memory DC.
    if (updateResult == UpdateFrameRemoteCapture && owner) RequestCapture();
}
