#include "video/WebCamVideoSource.h"
#include <algorithm>
#include <cstdio>
#include <new>
#include <utility>

namespace {
constexpr UINT kGraphNotifyMessage = 0x1F;  // WM_GRAPHNOTIFY, with 27 as the second parameter
constexpr LONG_PTR kGraphNotifyInstance = 27;
}  // namespace

void CaptureGraph::Release() {
    control.Reset();
    events.Reset();
    grabber.Reset();
    grabberFilter.Reset();
    streamConfig.Reset();
    captureFilter.Reset();
    builder.Reset();
    graph.Reset();
    chosenType.Free();
}

STDMETHODIMP ACallbackHandler::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_ISampleGrabberCB || iid == IID_IUnknown) {
        *object = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP ACallbackHandler::SampleCB(double, IMediaSample* sample) {
    if (sample) m_source->OnSample(sample);
    return S_OK;
}

WebCamVideoSource::WebCamVideoSource(int deviceIndex, const std::wstring& deviceName, IMoniker* moniker,
                                     HWND notifyWindow)
    : m_deviceIndex(deviceIndex), m_graph(new CaptureGraph), m_notifyWindow(notifyWindow), m_moniker(moniker) {
    name = "webcam";
    id = "webcam";
    description = LowBytes(deviceName);
    CopyDeviceName(deviceName, m_graph->wideName, m_graph->name);
}

WebCamVideoSource::~WebCamVideoSource() {
    Close();
    delete m_graph;
}

int WebCamVideoSource::Start() {
    if (m_running) return 1;
    if (!m_graph->control) return 0;
    HRESULT hr = m_graph->control->Run();
    if (FAILED(hr)) {
        Fail("cannot start", "running the graph", hr);
        return 0;
    }
    m_running = true;
    return 0;
}

int WebCamVideoSource::Stop() {
    if (!m_running) return 0;
    if (SUCCEEDED(m_graph->control->Stop())) m_running = false;
    return 0;
}

void WebCamVideoSource::DeviceLost() {
    // Whatever the stop of a graph without its device returns, the graph goes: it holds a filter
    // of the device, which one plugged back in would have to share.
    ReleaseGraph();
}

VideoFrame* WebCamVideoSource::GetFrame(unsigned char*) { return m_running && m_delivered ? m_front : nullptr; }

int WebCamVideoSource::UpdateFrame() {
    // A webcam never asks for a remote capture (10): no device sends such a request.
    if (!m_running) return 0;
    ++m_frameCounter;
    CSingleLock lock(&m_lock, TRUE);
    if (m_fresh) {
        std::swap(m_front, m_pending);
        m_fresh = false;
        m_delivered = true;
    }
    return 1;
}

void WebCamVideoSource::Close() { ReleaseGraph(); }

void WebCamVideoSource::ReleaseGraph() {
    // IMediaControl::Stop returns once streaming has stopped, so no callback outlives it.
    if (m_graph->control) m_graph->control->Stop();
    m_running = false;
    m_graph->Release();
}

void WebCamVideoSource::Fail(const char* what, const char* step, HRESULT hr) const {
    std::fprintf(stderr, "Webcam \"%s\": %s (%s failed, 0x%08lX)\n", m_graph->name, what, step,
                 static_cast<unsigned long>(hr));
    std::fflush(stderr);
}

void WebCamVideoSource::Open(VideoResolution* resolution) {
    char what[64] = "cannot open";
    if (resolution) std::snprintf(what, sizeof what, "cannot open %s", resolution->label.c_str());
    // Only a resolution of this source names one of its media types; anything else leaves the
    // running graph alone.
    if (std::find(resolutions.begin(), resolutions.end(), resolution) == resolutions.end() ||
        resolution->index < 0 || resolution->index >= static_cast<int>(m_mediaTypes.size())) {
        Fail(what, "choosing the resolution", E_INVALIDARG);
        return;
    }
    // The old graph stops and goes before the size and the buffers change under its callback.
    ReleaseGraph();
    m_resolution = resolution;
    m_width = resolution->width;
    m_height = resolution->height;
    m_frameSize = m_width * m_height * 3;
    try {
        for (std::vector<uint8_t>& f : m_frames) f.assign(static_cast<size_t>(m_frameSize), 0);
    } catch (const std::bad_alloc&) {
        Fail(what, "allocating the frames", E_OUTOFMEMORY);
        return;
    }
    m_front = m_frames[0].data();
    m_pending = m_frames[1].data();
    m_back = m_frames[2].data();
    m_fresh = false;
    m_delivered = false;

    ComPtr<IGraphBuilder> graph;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&graph));
    const char* step = "creating the filter graph";
    if (hr == S_OK) {
        m_graph->graph = graph;
        if (!m_graph->chosenType.Assign(m_mediaTypes[resolution->index].Get())) {
            hr = E_OUTOFMEMORY;
            step = "copying the media type";
        } else {
            hr = BuildGraph(graph.Get(), m_width, m_height, step);
        }
    }
    if (hr != S_OK) {
        ReleaseGraph();
        Fail(what, step, FAILED(hr) ? hr : E_FAIL);
        return;
    }
    // Not examined: Start runs the graph again and reports a failure then.
    m_graph->control->Run();
}

HRESULT WebCamVideoSource::BuildGraph(IGraphBuilder* graph, int width, int height, const char*& step) {
    CaptureGraph& g = *m_graph;
    HRESULT hr;
    step = "setting the notification window";
    if ((hr = graph->QueryInterface(IID_PPV_ARGS(&g.events))) != S_OK) return hr;
    if ((hr = g.events->SetNotifyWindow(reinterpret_cast<OAHWND>(m_notifyWindow), kGraphNotifyMessage,
                                        kGraphNotifyInstance)) != S_OK)
        return hr;

    step = "creating the capture graph builder";
    if ((hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&g.builder))) != S_OK)
        return hr;
    if ((hr = g.builder->SetFiltergraph(graph)) != S_OK) return hr;

    // The device the source was enumerated from, through its own moniker: a look-up by name
    // would miss a device whose "Description" differs from its "FriendlyName".
    step = "binding the device";
    if ((hr = m_moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&g.captureFilter))) != S_OK) return hr;
    step = "adding the capture filter";
    if ((hr = graph->AddFilter(g.captureFilter.Get(), g.wideName)) != S_OK) return hr;

    // The output pin the format was found on; the pin named "Capture" would serve only the first.
    step = "setting the capture format";
    const int pin = m_mediaTypePins[m_resolution->index];
    ComPtr<IPin> capture = GetPinByDirection(g.captureFilter.Get(), PINDIR_OUTPUT, pin);
    ComPtr<IAMStreamConfig> config;
    if (!capture) return VFW_E_NOT_FOUND;
    if ((hr = capture.As(&config)) != S_OK) return hr;
    if ((hr = config->SetFormat(const_cast<AM_MEDIA_TYPE*>(&g.chosenType.Get()))) != S_OK) return hr;

    step = "adding the Sample Grabber";
    if ((hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&g.grabberFilter))) != S_OK)
        return hr;
    if ((hr = graph->AddFilter(g.grabberFilter.Get(), L"SampleGrabber")) != S_OK) return hr;
    if ((hr = g.grabberFilter.As(&g.grabber)) != S_OK) return hr;

    AM_MEDIA_TYPE wanted{};
    wanted.majortype = MEDIATYPE_Video;
    wanted.formattype = FORMAT_VideoInfo;
    ComPtr<IPin> grabberIn = GetPin(g.grabberFilter.Get(), L"Input");
    ComPtr<IPin> grabberOut = GetPin(g.grabberFilter.Get(), L"Output");
    if (!grabberIn || !grabberOut) return VFW_E_NOT_FOUND;
    if (g.chosenType.Get().subtype == MEDIASUBTYPE_YUY2) {
        wanted.subtype = MEDIASUBTYPE_YUY2;
        wanted.lSampleSize = width * height * 2;
        step = "connecting the capture pin";
        if ((hr = g.grabber->SetMediaType(&wanted)) != S_OK) return hr;
        if ((hr = graph->Connect(capture.Get(), grabberIn.Get())) != S_OK) return hr;
    } else {
        // Wine has no MJPEG Decompressor: creating it fails and so does the Open, which reports it.
        ComPtr<IBaseFilter> decoder;
        step = "adding the MJPEG Decompressor";
        if ((hr = CoCreateInstance(CLSID_MjpegDec, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&decoder))) != S_OK) return hr;
        if ((hr = graph->AddFilter(decoder.Get(), L"MJPEG Decompressor")) != S_OK) return hr;
        wanted.subtype = MEDIASUBTYPE_RGB24;
        wanted.lSampleSize = width * height * 3;
        step = "connecting the MJPEG Decompressor";
        if ((hr = g.grabber->SetMediaType(&wanted)) != S_OK) return hr;
        ComPtr<IPin> decoderIn = GetPin(decoder.Get(), L"XForm In");
        ComPtr<IPin> decoderOut = GetPin(decoder.Get(), L"XForm Out");
        if (!decoderIn || !decoderOut) return VFW_E_NOT_FOUND;
        if ((hr = graph->Connect(capture.Get(), decoderIn.Get())) != S_OK) return hr;
        if ((hr = graph->Connect(decoderOut.Get(), grabberIn.Get())) != S_OK) return hr;
    }

    step = "adding the Null Renderer";
    ComPtr<IBaseFilter> renderer;
    if ((hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&renderer))) != S_OK)
        return hr;
    if ((hr = graph->AddFilter(renderer.Get(), L"Null Renderer")) != S_OK) return hr;
    ComPtr<IPin> rendererIn = GetPin(renderer.Get(), L"In");
    if (!rendererIn) return VFW_E_NOT_FOUND;
    if ((hr = graph->ConnectDirect(grabberOut.Get(), rendererIn.Get(), nullptr)) != S_OK) return hr;

    // The callback takes size, stride and row order from what was connected, which must be the
    // size of the resolution that the frames are handed out at.
    step = "reading the connected media type";
    if ((hr = g.grabber->GetConnectedMediaType(m_handler.m_mediaType.Put())) != S_OK) return hr;
    if (!FrameLayoutFromMediaType(m_handler.m_mediaType.Get(), m_layout) || m_layout.width != width ||
        m_layout.height != height)
        return VFW_E_TYPE_NOT_ACCEPTED;

    step = "querying the media control";
    if (FAILED(hr = graph->QueryInterface(IID_PPV_ARGS(&g.control)))) return hr;

    step = "installing the callback";
    if ((hr = g.grabber->SetCallback(&m_handler, 0)) != S_OK) return hr;
    if ((hr = g.grabberFilter->SetSyncSource(nullptr)) != S_OK) return hr;
    return S_OK;
}

void WebCamVideoSource::OnSample(IMediaSample* sample) {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return;
    long length = sample->GetActualDataLength();
    if (length <= 0 || !CopySampleToFrame(m_layout, data, static_cast<size_t>(length), m_back)) return;
    CSingleLock lock(&m_lock, TRUE);
    std::swap(m_back, m_pending);
    m_fresh = true;
}

bool WebCamVideoSource::DrainEvents() {
    if (!m_graph->events) return false;
    bool lost = false;
    long code;
    LONG_PTR p1, p2;
    while (m_graph->events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
        if (code == EC_DEVICE_LOST) lost = true;
        m_graph->events->FreeEventParams(code, p1, p2);
    }
    return lost;
}
