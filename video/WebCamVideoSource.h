// One DirectShow capture device: a graph of capture pin, Sample Grabber (after an MJPEG
// Decompressor for MJPG), Null Renderer; the grabber's callback converts every sample to BGR24.
#pragma once
#include "framework/Sync.h"
#include "video/DirectShowHelpers.h"
#include "video/VideoSource.h"
#include "video/WebCamFormats.h"

// The DirectShow objects of one device.
struct CaptureGraph {
    char name[kDeviceNameCapacity] = {};
    wchar_t wideName[kDeviceNameCapacity] = {};
    ComPtr<IBaseFilter> captureFilter;
    ComPtr<IBaseFilter> grabberFilter;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IMediaEventEx> events;
    ComPtr<IGraphBuilder> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IMediaControl> control;
    ComPtr<IAMStreamConfig> streamConfig;  // of the last output pin, from the enumeration
    OwnedMediaType chosenType;             // the device format that Open applies

    // Releases every DirectShow object; the names stay.
    void Release();
};

class WebCamVideoSource;

// The grabber's callback. Not reference-counted: it lives as long as its source.
class ACallbackHandler : public ISampleGrabberCB {
public:
    explicit ACallbackHandler(WebCamVideoSource* source) : m_source(source) {}
    virtual ~ACallbackHandler() = default;
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 2; }
    STDMETHODIMP SampleCB(double time, IMediaSample* sample) override;
    STDMETHODIMP BufferCB(double time, BYTE* buffer, long length) override { return S_OK; }

    OwnedMediaType m_mediaType;  // what the grabber delivers: YUY2 or RGB24

private:
    WebCamVideoSource* m_source;
};

class WebCamVideoSource : public VideoSource {
public:
    // Keeps the device's moniker: every graph is built on the filter bound from it.
    WebCamVideoSource(int deviceIndex, const std::wstring& deviceName, IMoniker* moniker, HWND notifyWindow);
    ~WebCamVideoSource() override;

    // Start before any successful Open returns 0 and does nothing.
    int Start() override;
    int Stop() override;
    // The frame published by the last UpdateFrame, unchanged until the next one; null unless
    // running, and until an UpdateFrame has published a sample of the graph built by Open.
    VideoFrame* GetFrame(unsigned char* unused) override;
    // 1 on every call while running (the newest complete sample becomes the frame), else 0.
    int UpdateFrame() override;
    // Stops and releases the graph, and with it the device.
    void Close() override;
    // Builds and runs a graph for one of this source's own resolutions. On failure one line goes
    // to the standard error stream and the source is left without a graph (not running).
    void Open(VideoResolution* resolution) override;

    CaptureGraph* Graph() { return m_graph; }
    // Drains the graph's events; true when one of them was EC_DEVICE_LOST.
    bool DrainEvents();
    // The device is gone: the graph is released at once, and from now on the source is not
    // running and gives no frame (its last one is no picture of the device any more). Open
    // builds a new graph.
    void DeviceLost();

private:
    friend class ACallbackHandler;
    friend class WebCamVideoSourceProvider;

    // Builds the streaming graph into the record; on failure names the step that failed.
    HRESULT BuildGraph(IGraphBuilder* graph, int width, int height, const char*& step);
    void ReleaseGraph();
    void OnSample(IMediaSample* sample);
    void Fail(const char* what, const char* step, HRESULT hr) const;

    int m_deviceIndex;
    bool m_running = false;
    int m_frameCounter = 0;
    CaptureGraph* m_graph;
    // Three frames: the callback fills the back one and swaps it with the pending one under the
    // lock; UpdateFrame swaps the pending one, when newer, with the front one that GetFrame hands out.
    std::vector<uint8_t> m_frames[3];
    uint8_t* m_front = nullptr;
    uint8_t* m_pending = nullptr;
    uint8_t* m_back = nullptr;
    bool m_fresh = false;
    bool m_delivered = false;  // the front frame holds a sample since the last Open
    int m_width = 0;
    int m_height = 0;
    int m_frameSize = 0;
    VideoResolution* m_resolution = nullptr;
    std::vector<OwnedMediaType> m_mediaTypes;
    std::vector<int> m_mediaTypePins;  // the output pin each media type came from
    HWND m_notifyWindow;
    ComPtr<IMoniker> m_moniker;
    FrameLayout m_layout;
    CCriticalSection m_lock;
    ACallbackHandler m_handler{this};
};
