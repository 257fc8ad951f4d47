#include "video/WebCamVideoSourceProvider.h"
#include "video/WebCamVideoSource.h"
#include <algorithm>

WebCamVideoSourceProvider::WebCamVideoSourceProvider() { m_comInitialized = SUCCEEDED(CoInitialize(nullptr)); }

WebCamVideoSourceProvider::~WebCamVideoSourceProvider() {
    for (WebCamVideoSource* s : m_all) delete s;
    if (m_comInitialized) CoUninitialize();
}

std::vector<VideoSource*>* WebCamVideoSourceProvider::GetVideoSources() {
    m_sources.clear();
    m_refresh = false;
    ComPtr<ICreateDevEnum> devices;
    ComPtr<IEnumMoniker> monikers;
    // No enumerator, or an empty category (S_FALSE): no camera.
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devices))) ||
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK)
        return &m_sources;
    ComPtr<IMoniker> moniker;
    for (; monikers->Next(1, &moniker, nullptr) == S_OK; moniker.Reset()) {
        std::wstring key = MonikerDisplayName(moniker.Get());
        auto known = key.empty() ? m_byDevice.end() : m_byDevice.find(key);
        WebCamVideoSource* source = known == m_byDevice.end() ? nullptr : known->second;
        if (!source || !source->initialized) {
            ComPtr<IPropertyBag> bag;
            std::wstring name;
            if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag))) ||
                !(ReadDeviceProperty(bag.Get(), L"Description", name) ||
                  ReadDeviceProperty(bag.Get(), L"FriendlyName", name)))
                continue;
            if (!source) {
                source = new WebCamVideoSource(0, name, moniker.Get(), m_notifyWindow);
                m_all.push_back(source);
                if (!key.empty()) m_byDevice[key] = source;
            }
            SetUp(source, moniker.Get());
        }
        source->m_deviceIndex = static_cast<int>(m_sources.size());
        source->m_notifyWindow = m_notifyWindow;
        m_sources.push_back(source);
    }
    return &m_sources;
}

void WebCamVideoSourceProvider::SetUp(WebCamVideoSource* source, IMoniker* moniker) {
    // A device that failed before is set up again from scratch.
    CaptureGraph& g = *source->m_graph;
    g.Release();
    source->initialized = false;
    for (VideoResolution* r : source->resolutions) delete r;
    source->resolutions.clear();
    source->m_mediaTypes.clear();
    source->m_mediaTypePins.clear();

    if (moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&g.captureFilter)) != S_OK ||
        FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&g.graph))) ||
        FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&g.builder))))
        return;
    g.builder->SetFiltergraph(g.graph.Get());
    // Only the enumeration uses this graph; Open builds the streaming one.
    if (g.graph->AddFilter(g.captureFilter.Get(), L"Webcam C170") != S_OK) return;

    // Formats of all output pins, in the order found; a pin or capability that cannot be read is
    // passed over.
    std::vector<WebCamFormat> found;
    std::vector<OwnedMediaType> types;
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> pin;
    int outputs = 0;
    if (g.captureFilter->EnumPins(&pins) == S_OK) {
        for (; pins->Next(1, &pin, nullptr) == S_OK; pin.Reset()) {
            PIN_DIRECTION direction;
            ComPtr<IAMStreamConfig> config;
            if (pin->QueryDirection(&direction) != S_OK || direction != PINDIR_OUTPUT) continue;
            const int position = outputs++;
            if (FAILED(pin.As(&config))) continue;
            g.streamConfig = config;
            int count = 0, size = 0;
            if (FAILED(config->GetNumberOfCapabilities(&count, &size))) continue;
            std::vector<BYTE> caps(std::max<size_t>(static_cast<size_t>(size), sizeof(VIDEO_STREAM_CONFIG_CAPS)));
            for (int i = 0; i < count; ++i) {
                AM_MEDIA_TYPE* mt = nullptr;
                if (config->GetStreamCaps(i, &mt, caps.data()) != S_OK || !mt) continue;
                found.push_back(DescribeFormat(position, *mt));
                types.emplace_back(*mt);
                DeleteMediaTypeRecord(mt);
            }
        }
    }
    WebCamFormatSelection selection = SelectWebCamFormats(found);
    for (int k : selection.kept) {
        source->m_mediaTypes.push_back(std::move(types[k]));
        source->m_mediaTypePins.push_back(found[k].pin);
    }
    for (const VideoResolution& r : selection.resolutions) source->resolutions.push_back(new VideoResolution(r));
    source->initialized = true;
}

bool WebCamVideoSourceProvider::PollGraphEvents() {
    bool lost = false;
    for (WebCamVideoSource* s : m_all) {
        if (!s->DrainEvents()) continue;
        lost = true;
        s->DeviceLost();
        for (auto it = m_byDevice.begin(); it != m_byDevice.end(); ++it) {
            if (it->second == s) {
                m_byDevice.erase(it);
                break;
            }
        }
    }
    return lost;
}
