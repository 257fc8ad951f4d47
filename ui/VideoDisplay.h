// The live view (control 1024): each paint pulls the current source's frame into a DIB section
// it owns, stretches it over the control, hands it to the recorder at most every 35 ms, then lets
// the source advance. UI thread only; the frame buffer belongs to the source and stays unchanged
// until the source's next UpdateFrame, which this view calls only after the frame was copied and
// fed. The DIB section holds a frame of the current source or does not exist: a change of source
// or resolution, or a paint that finds no frame, deletes it, and the view paints black until the
// next frame. Such a paint still calls UpdateFrame, in which a source publishes its first frame.
// Still captures and recordings take a missing bitmap for no picture.
#pragma once
#include "framework/Framework.h"
#include "video/VideoSource.h"

class CLumetraDlg;
class CVideoRecorder;

class CVideoDisplay : public CStatic {
public:
    CVideoDisplay() = default;
    ~CVideoDisplay() override;

    // Key-downs and timers skip the base processing.
    BOOL PreTranslateMessage(MSG* msg) override;
    // Stops the current source, then opens and starts the new one at its first resolution. A
    // source without resolutions is only made current. Either way the old picture goes.
    void SetSource(VideoSource* newSource);
    // Restarts the source at another of its resolutions; nothing when it has one or none.
    void SetResolution(VideoResolution* newResolution);
    void SetRecorder(CVideoRecorder* newRecorder) { recorder = newRecorder; }
    // Once the owner has closed every source: the view holds no picture and opens no source again,
    // not even for a device-list refresh that is still due.
    void LetGoOfSources();
    HBITMAP GetBitmap() const { return dibSection; }

    VideoSource* source = nullptr;
    VideoResolution* resolution = nullptr;
    CLumetraDlg* owner = nullptr;
    HBITMAP dibSection = nullptr;  // bottom-up; frame row 0 is its last row
    int width = 0;
    int height = 0;
    VideoSourceProvider* provider = nullptr;
    DWORD lastPaintTick = 0;
    DWORD msBetweenPaints = 0;
    DWORD msSinceRecorded = 0;
    DWORD lastRecordTick = 0;
    int videoFormat = 0;  // VideoOutputFormat of the next recording
    bool doubleFrames = false;
    CDC memoryDC;  // holds dibSection selected
    BITMAPINFO bitmapInfo{};
    CVideoRecorder* recorder = nullptr;
    BOOL needsReinit = 1;

protected:
    void OnPaint();
    // Seams for tests: the tick counter, and the still capture a source asks for (result 10).
    virtual DWORD TickCount() { return ::GetTickCount(); }
    virtual void RequestCapture();
    // The owner's stop of a running recording, before the source or its size changes.
    virtual void EndRecording();
    // Tells the owner that the recorder refused a frame and is no longer fed.
    virtual void ReportRecordingStopped(CVideoRecorder* stopped);
    // Seam for the benchmark: a painted frame enters the copy, the stretch, the source's update,
    // and is done (before the end of painting).
    enum class PaintStep { Copy, Stretch, Update, Done };
    virtual void OnPaintStep(PaintStep) {}

    DECLARE_MESSAGE_MAP()

private:
    // Until the current source's next frame is painted there is no picture: GetBitmap is null
    // and the view paints black.
    void DropPicture();
    void PaintBlack();
    void Rebuild(const VideoResolution& r, CDC& paintDC);
    void CopyFrame(const VideoFrame* frame);
    unsigned char* m_bits = nullptr;  // rows of dibSection, bottom-up, padded to 4 bytes
    bool m_refreshing = false;        // switching to a fresh device list inside the paint handler
};
