#include "standins/webcam/CaptureFilter.h"

#include "standins/webcam/CapturePin.h"
#include "standins/webcam/Enumerators.h"
#include "standins/webcam/Module.h"
#include "standins/webcam/StandinWebcam.h"

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;
constexpr int kMaxPins = 4;

bool ReadString(IPropertyBag* bag, const wchar_t* name, std::wstring& value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    bool ok = SUCCEEDED(bag->Read(name, &v, nullptr)) && v.vt == VT_BSTR;
    if (ok) value.assign(v.bstrVal, SysStringLen(v.bstrVal));
    VariantClear(&v);
    return ok;
}

// Registry DWORDs arrive as VT_I4; a text value is converted, so either kind of entry works.
bool ReadInt(IPropertyBag* bag, const wchar_t* name, int& value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    bool ok = SUCCEEDED(bag->Read(name, &v, nullptr)) && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4));
    if (ok) value = v.lVal;
    VariantClear(&v);
    return ok;
}

}  // namespace

CaptureFilter::CaptureFilter() {
    ++g_objects;
    std::vector<VideoFormat> formats;
    ParseFormats(kStandinDefaultFormats, formats);
    MakePins(formats, 1);
}

CaptureFilter::~CaptureFilter() {
    Deactivate();
    pins_.clear();
    if (clock_) clock_->Release();
    if (lost_) CloseHandle(lost_);
    --g_objects;
}

void CaptureFilter::MakePins(const std::vector<VideoFormat>& formats, int pins) {
    pins_.clear();
    const size_t n = formats.size();
    for (int i = 0; i < pins; ++i) {
        std::wstring name = i ? L"Capture " + std::to_wstring(i + 1) : L"Capture";
        std::vector<VideoFormat> own(formats.begin() + i * n / pins, formats.begin() + (i + 1) * n / pins);
        pins_.push_back(std::make_unique<CapturePin>(*this, std::move(name), std::move(own)));
    }
}

STDMETHODIMP CaptureFilter::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter || riid == IID_IBaseFilter)
        *ppv = static_cast<IBaseFilter*>(this);
    else if (riid == IID_IPersistPropertyBag)
        *ppv = static_cast<IPersistPropertyBag*>(this);
    else if (riid == IID_IAMFilterMiscFlags)
        *ppv = static_cast<IAMFilterMiscFlags*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CaptureFilter::AddRef() { return ++refs_; }

STDMETHODIMP_(ULONG) CaptureFilter::Release() {
    ULONG left = --refs_;
    if (!left) delete this;
    return left;
}

STDMETHODIMP CaptureFilter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_StandinWebcam;
    return S_OK;
}

HRESULT CaptureFilter::Activate() {
    for (auto& pin : pins_) {
        HRESULT hr = pin->Activate();
        if (FAILED(hr)) {
            Deactivate();
            return hr;
        }
    }
    return S_OK;
}

void CaptureFilter::Deactivate() {
    for (auto& pin : pins_) pin->Deactivate();
}

STDMETHODIMP CaptureFilter::Stop() {
    Guard guard(lock_);
    Deactivate();
    state_ = State_Stopped;
    lostReported_ = false;
    return S_OK;
}

STDMETHODIMP CaptureFilter::Pause() {
    Guard guard(lock_);
    if (state_ == State_Stopped) {
        HRESULT hr = Activate();
        if (FAILED(hr)) return hr;
    }
    for (auto& pin : pins_) pin->SetRunning(false, 0);
    state_ = State_Paused;
    return S_OK;
}

STDMETHODIMP CaptureFilter::Run(REFERENCE_TIME start) {
    Guard guard(lock_);
    if (state_ == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    for (auto& pin : pins_) pin->SetRunning(true, start);
    state_ = State_Running;
    return S_OK;
}

// Lock-free, so it answers while a state change waits for a streaming thread. A live source
// delivers nothing while paused, which it tells the graph with VFW_S_CANT_CUE.
STDMETHODIMP CaptureFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = state_;
    return *state == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP CaptureFilter::SetSyncSource(IReferenceClock* clock) {
    Guard guard(lock_);
    if (clock) clock->AddRef();
    if (clock_) clock_->Release();
    clock_ = clock;
    return S_OK;
}

STDMETHODIMP CaptureFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    Guard guard(lock_);
    *clock = clock_;
    if (clock_) clock_->AddRef();
    return S_OK;
}

STDMETHODIMP CaptureFilter::EnumPins(IEnumPins** out) {
    if (!out) return E_POINTER;
    Guard guard(lock_);
    pinsHandedOut_ = true;
    std::vector<IPin*> pins;
    for (auto& pin : pins_) pins.push_back(PinItems::Hand(pin.get()));
    *out = new PinEnumerator(std::move(pins));
    return S_OK;
}

STDMETHODIMP CaptureFilter::FindPin(LPCWSTR id, IPin** out) {
    if (!id || !out) return E_POINTER;
    Guard guard(lock_);
    pinsHandedOut_ = true;
    for (auto& pin : pins_) {
        if (pin->Name() == id) {
            *out = PinItems::Hand(pin.get());
            return S_OK;
        }
    }
    *out = nullptr;
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP CaptureFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    Guard guard(lock_);
    lstrcpynW(info->achName, name_.c_str(), MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

STDMETHODIMP CaptureFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    Guard guard(lock_);
    graph_ = graph;
    sink_ = nullptr;
    if (graph && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink_))))
        sink_->Release();  // keep it uncounted, as the graph itself
    name_ = name ? name : L"";
    return S_OK;
}

STDMETHODIMP CaptureFilter::QueryVendorInfo(LPWSTR* info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CaptureFilter::InitNew() {
    Guard guard(lock_);
    if (initialized_) return E_UNEXPECTED;
    initialized_ = true;
    return S_OK;
}

// The device moniker's BindToObject calls this with the instance's property bag. The pins are
// made here, so it must come before anyone holds a pin.
STDMETHODIMP CaptureFilter::Load(IPropertyBag* bag, IErrorLog*) {
    if (!bag) return E_POINTER;
    Guard guard(lock_);
    if (initialized_ || pinsHandedOut_) return E_UNEXPECTED;
    int failBind = 0;
    if (ReadInt(bag, L"StandinFailBind", failBind) && failBind) return E_FAIL;

    std::wstring text = kStandinDefaultFormats;
    ReadString(bag, L"StandinFormats", text);
    std::vector<VideoFormat> formats;
    int pins = 1;
    ReadInt(bag, L"StandinPins", pins);
    if (!ParseFormats(text, formats) || pins < 1 || pins > kMaxPins || static_cast<size_t>(pins) > formats.size())
        return E_FAIL;
    MakePins(formats, pins);

    std::wstring instance;
    if (ReadString(bag, L"StandinInstance", instance) && !instance.empty()) {
        lost_ = CreateEventW(nullptr, TRUE, FALSE, StandinWebcamLostEvent(instance).c_str());
        if (!lost_) return HRESULT_FROM_WIN32(GetLastError());
    }
    initialized_ = true;
    return S_OK;
}

STDMETHODIMP CaptureFilter::Save(IPropertyBag*, BOOL, BOOL) { return E_NOTIMPL; }

STDMETHODIMP_(ULONG) CaptureFilter::GetMiscFlags() { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

void CaptureFilter::ReportLost(IMediaEventSink* sink) {
    if (sink && !lostReported_.exchange(true))
        sink->Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)), 0);
}
