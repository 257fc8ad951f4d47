// The interfaces through which the program sees capture devices: providers enumerate sources, a
// source delivers BGR24 frames (row 0 at the top) on request. All calls come from the UI thread.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct VideoResolution {
    int index = 0;  // position of the format in the device's own list
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;  // of the frames handed out: always 24
    std::string label;     // text of the settings dialog's resolution list
};

// BGR24 pixels, width * 3 bytes a row, no gap between rows, row 0 the top row; owned by the source
// and left unchanged until its next UpdateFrame (a recording may still read the painted frame).
using VideoFrame = unsigned char;

// Result of VideoSource::UpdateFrame.
enum UpdateFrameResult : int {
    UpdateFrameNone = 0,           // no new frame (not running, no device, or too early)
    UpdateFrameNew = 1,            // a new frame is available through GetFrame
    UpdateFrameRemoteCapture = 10  // the source asks for a still capture
};

class VideoSource {
public:
    virtual ~VideoSource();
    virtual int Start() = 0;
    virtual int Stop() = 0;
    virtual VideoFrame* GetFrame(unsigned char* unused) = 0;
    virtual int UpdateFrame() = 0;
    virtual void Close() = 0;
    virtual void Open(VideoResolution* resolution) = 0;

    bool initialized = false;  // set by the enumerator once the device is set up completely
    std::string name;          // kind tag of the device family: "webcam" or "F40K"
    std::string id;            // same text as name
    std::string description;   // display name
    std::vector<VideoResolution*> resolutions;  // owned; the first is what a new selection opens
};

class VideoSourceProvider {
public:
    virtual ~VideoSourceProvider() = default;
    virtual std::vector<VideoSource*>* GetVideoSources() = 0;
    virtual std::vector<VideoSource*>* GetFailedVideoSources() = 0;
    virtual bool NeedsRefresh() = 0;
    // Closes every listed source; returns the list it closed.
    std::vector<VideoSource*> CloseAllSources();

    // Only the webcam family has capture graphs with events; the others keep these defaults.
    virtual void SetNotifyWindow(HWND window) { m_notifyWindow = window; }
    // Drains the graph events of the listed sources; true when a device was lost.
    virtual bool PollGraphEvents() { return false; }
    // Makes NeedsRefresh true until the next enumeration.
    virtual void MarkForRefresh() {}

protected:
    HWND m_notifyWindow = nullptr;  // where capture graphs post their events
};
