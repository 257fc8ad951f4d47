#include "standins/webcam/CapturePin.h"

#include "standins/webcam/CaptureFilter.h"
#include "standins/webcam/Enumerators.h"

#include <algorithm>

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Whether a caller's partial type (GUID_NULL fields and no format block match anything) allows f.
bool Allows(const AM_MEDIA_TYPE& wanted, const AM_MEDIA_TYPE& offer, const VideoFormat& f) {
    if (wanted.majortype != GUID_NULL && wanted.majortype != offer.majortype) return false;
    if (wanted.subtype != GUID_NULL && wanted.subtype != offer.subtype) return false;
    if (wanted.formattype != GUID_NULL && wanted.formattype != offer.formattype) return false;
    return !wanted.pbFormat || Describes(wanted, f);
}

AM_MEDIA_TYPE* NewMediaType(const VideoFormat& f) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (mt && FAILED(BuildMediaType(f, *mt))) {
        CoTaskMemFree(mt);
        mt = nullptr;
    }
    return mt;
}

}  // namespace

CapturePin::CapturePin(CaptureFilter& filter, std::wstring name, std::vector<VideoFormat> formats)
    : filter_(filter), name_(std::move(name)), formats_(std::move(formats)),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CapturePin::~CapturePin() {
    Deactivate();
    ReleaseConnection();
    CloseHandle(stop_);
}

STDMETHODIMP CapturePin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPin)
        *ppv = static_cast<IPin*>(this);
    else if (riid == IID_IAMStreamConfig)
        *ppv = static_cast<IAMStreamConfig*>(this);
    else if (riid == IID_IKsPropertySet)
        *ppv = static_cast<IKsPropertySet*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CapturePin::AddRef() { return filter_.AddRef(); }
STDMETHODIMP_(ULONG) CapturePin::Release() { return filter_.Release(); }

std::vector<int> CapturePin::Offered() const {
    if (chosen_ >= 0) return {chosen_};
    std::vector<int> all(formats_.size());
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
    return all;
}

int CapturePin::Accepted(const AM_MEDIA_TYPE& mt) const {
    for (int i : Offered())
        if (Describes(mt, formats_[i])) return i;
    return -1;
}

STDMETHODIMP CapturePin::Connect(IPin* receiver, const AM_MEDIA_TYPE* wanted) {
    if (!receiver) return E_POINTER;
    Guard guard(filter_.Lock());
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION dir;
    if (FAILED(receiver->QueryDirection(&dir)) || dir != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    for (int i : Offered()) {
        AM_MEDIA_TYPE offer;
        if (FAILED(BuildMediaType(formats_[i], offer))) return E_OUTOFMEMORY;
        HRESULT hr = VFW_E_NO_ACCEPTABLE_TYPES;
        if (!wanted || Allows(*wanted, offer, formats_[i]))
            hr = TryConnect(receiver, wanted && wanted->pbFormat ? *wanted : offer, i);
        FreeMediaType(offer);
        if (SUCCEEDED(hr)) return S_OK;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CapturePin::TryConnect(IPin* receiver, const AM_MEDIA_TYPE& mt, int format) {
    HRESULT hr = CopyMediaType(mt_, mt);
    if (FAILED(hr)) return hr;
    peer_ = receiver;
    peer_->AddRef();
    connected_ = format;
    hr = receiver->ReceiveConnection(this, &mt_);
    if (SUCCEEDED(hr)) {
        hr = receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input_));
        if (SUCCEEDED(hr)) hr = DecideAllocator();
        if (FAILED(hr)) receiver->Disconnect();
    }
    if (FAILED(hr)) ReleaseConnection();
    return hr;
}

// The downstream pin's allocator if it takes our sizes, else a standard memory allocator.
HRESULT CapturePin::DecideAllocator() {
    ALLOCATOR_PROPERTIES needs = {};
    input_->GetAllocatorRequirements(&needs);  // optional for the downstream pin
    const ALLOCATOR_PROPERTIES wanted = {std::max<long>(needs.cBuffers, 3),
                                         std::max<long>(needs.cbBuffer, ImageSize(formats_[connected_])),
                                         std::max<long>(needs.cbAlign, 1), needs.cbPrefix};
    IMemAllocator* allocator = nullptr;
    if (SUCCEEDED(input_->GetAllocator(&allocator)) && SUCCEEDED(UseAllocator(allocator, wanted)))
        return S_OK;
    if (allocator) allocator->Release();
    HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                  reinterpret_cast<void**>(&allocator));
    if (FAILED(hr)) return hr;
    hr = UseAllocator(allocator, wanted);
    if (FAILED(hr)) allocator->Release();
    return hr;
}

// Takes over the reference to allocator on success.
HRESULT CapturePin::UseAllocator(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& wanted) {
    ALLOCATOR_PROPERTIES got;
    ALLOCATOR_PROPERTIES request = wanted;
    HRESULT hr = allocator->SetProperties(&request, &got);
    if (FAILED(hr)) return hr;
    if (got.cbBuffer < wanted.cbBuffer || got.cBuffers < 1) return VFW_E_SIZENOTSET;
    hr = input_->NotifyAllocator(allocator, FALSE);
    if (FAILED(hr)) return hr;
    allocator_ = allocator;
    return S_OK;
}

void CapturePin::ReleaseConnection() {
    if (allocator_) allocator_->Release();
    if (input_) input_->Release();
    if (peer_) peer_->Release();
    allocator_ = nullptr;
    input_ = nullptr;
    peer_ = nullptr;
    FreeMediaType(mt_);
    mt_ = {};
    connected_ = -1;
}

STDMETHODIMP CapturePin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) { return E_UNEXPECTED; }

STDMETHODIMP CapturePin::Disconnect() {
    Guard guard(filter_.Lock());
    if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!peer_) return S_FALSE;
    ReleaseConnection();
    return S_OK;
}

STDMETHODIMP CapturePin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    Guard guard(filter_.Lock());
    *pin = peer_;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
}

STDMETHODIMP CapturePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    Guard guard(filter_.Lock());
    if (!peer_) {
        ZeroMemory(mt, sizeof *mt);
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(*mt, mt_);
}

STDMETHODIMP CapturePin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = &filter_;
    filter_.AddRef();
    info->dir = PINDIR_OUTPUT;
    lstrcpynW(info->achName, name_.c_str(), MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP CapturePin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = PINDIR_OUTPUT;
    return S_OK;
}

STDMETHODIMP CapturePin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    const size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*id) return E_OUTOFMEMORY;
    CopyMemory(*id, name_.c_str(), bytes);
    return S_OK;
}

STDMETHODIMP CapturePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    Guard guard(filter_.Lock());
    return Accepted(*mt) >= 0 ? S_OK : S_FALSE;
}

STDMETHODIMP CapturePin::EnumMediaTypes(IEnumMediaTypes** out) {
    if (!out) return E_POINTER;
    Guard guard(filter_.Lock());
    std::vector<AM_MEDIA_TYPE*> types;
    for (int i : Offered()) {
        types.push_back(NewMediaType(formats_[i]));
        if (!types.back()) {
            types.pop_back();
            for (auto* mt : types) DeleteMediaType(mt);
            return E_OUTOFMEMORY;
        }
    }
    *out = new MediaTypeEnumerator(std::move(types));
    return S_OK;
}

STDMETHODIMP CapturePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
STDMETHODIMP CapturePin::EndOfStream() { return E_UNEXPECTED; }
STDMETHODIMP CapturePin::BeginFlush() { return E_UNEXPECTED; }
STDMETHODIMP CapturePin::EndFlush() { return E_UNEXPECTED; }
STDMETHODIMP CapturePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

// Unconnected, the choice applies to the next connection; connected, the pin reconnects with
// it through the graph, which is asked outside the filter's lock.
STDMETHODIMP CapturePin::SetFormat(AM_MEDIA_TYPE* mt) {
    IFilterGraph* graph = nullptr;
    {
        Guard guard(filter_.Lock());
        if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
        if (!mt) {
            chosen_ = -1;
            return S_OK;
        }
        int format = -1;
        for (size_t i = 0; i < formats_.size() && format < 0; ++i)
            if (Describes(*mt, formats_[i])) format = static_cast<int>(i);
        if (format < 0) return VFW_E_INVALIDMEDIATYPE;
        if (peer_ && format != connected_) {
            if (peer_->QueryAccept(mt) != S_OK) return VFW_E_INVALIDMEDIATYPE;
            graph = filter_.Graph();
            if (!graph) return VFW_E_NOT_IN_GRAPH;
            graph->AddRef();
        }
        chosen_ = format;
    }
    if (!graph) return S_OK;
    HRESULT hr = graph->Reconnect(this);
    graph->Release();
    return hr;
}

STDMETHODIMP CapturePin::GetFormat(AM_MEDIA_TYPE** mt) {
    if (!mt) return E_POINTER;
    Guard guard(filter_.Lock());
    *mt = peer_ ? CloneMediaType(mt_) : NewMediaType(formats_[chosen_ >= 0 ? chosen_ : 0]);
    return *mt ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CapturePin::GetNumberOfCapabilities(int* count, int* size) {
    if (!count || !size) return E_POINTER;
    *count = static_cast<int>(formats_.size());
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

STDMETHODIMP CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) {
    if (index < 0) return E_INVALIDARG;
    if (static_cast<size_t>(index) >= formats_.size()) return S_FALSE;
    if (!mt || !caps) return E_POINTER;
    *mt = NewMediaType(formats_[index]);
    if (!*mt) return E_OUTOFMEMORY;
    BuildCaps(formats_[index], *reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS*>(caps));
    return S_OK;
}

STDMETHODIMP CapturePin::Set(REFGUID set, DWORD, void*, DWORD, void*, DWORD) {
    return set == AMPROPSETID_Pin ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

STDMETHODIMP CapturePin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataSize,
                             DWORD* returned) {
    if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (returned) *returned = sizeof(GUID);
    if (!data) return returned ? S_OK : E_POINTER;
    if (dataSize < sizeof(GUID)) return E_UNEXPECTED;
    *static_cast<GUID*>(data) = PIN_CATEGORY_CAPTURE;
    return S_OK;
}

STDMETHODIMP CapturePin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
    if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (support) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

HRESULT CapturePin::Activate() {
    if (!peer_ || thread_.joinable()) return S_OK;
    HRESULT hr = allocator_->Commit();
    if (FAILED(hr)) return hr;
    frame_ = 0;
    running_ = false;
    ResetEvent(stop_);
    IReferenceClock* clock = filter_.Clock();
    if (clock) clock->AddRef();
    thread_ = std::thread(&CapturePin::Stream, this, clock, filter_.Sink(), filter_.LostEvent());
    return S_OK;
}

void CapturePin::SetRunning(bool running, REFERENCE_TIME start) {
    std::lock_guard<std::mutex> guard(runLock_);
    running_ = running;
    start_ = start;
}

// The graph stops downstream filters first, so a Receive blocked in a paused renderer has
// returned by now; decommitting releases a GetBuffer waiting for a free sample.
void CapturePin::Deactivate() {
    if (!thread_.joinable()) return;
    SetEvent(stop_);
    allocator_->Decommit();
    thread_.join();
}

void CapturePin::Stream(IReferenceClock* clock, IMediaEventSink* sink, HANDLE lost) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const VideoFormat format = formats_[connected_];
    const HANDLE waits[] = {stop_, lost};
    DWORD count = lost ? 2 : 1;
    bool delivering = true;
    ULONGLONG origin = GetTickCount64();
    ULONGLONG ticks = 0;
    for (;;) {
        DWORD timeout = INFINITE;
        if (delivering) {
            const ULONGLONG due = origin + ticks * 1000 / 30, now = GetTickCount64();
            if (now > due + 1000) {  // after a long stall, resume the beat instead of bursting
                origin = now;
                ticks = 0;
            }
            timeout = due > now ? static_cast<DWORD>(due - now) : 0;
        }
        const DWORD woke = WaitForMultipleObjects(count, waits, FALSE, timeout);
        if (woke == WAIT_OBJECT_0 + 1) {
            filter_.ReportLost(sink);
            delivering = false;
            count = 1;
            continue;
        }
        if (woke != WAIT_TIMEOUT) break;
        ++ticks;
        // S_FALSE or an error from downstream ends delivery for this activation.
        if (Deliver(format, clock) != S_OK) delivering = false;
    }
    if (clock) clock->Release();
    CoUninitialize();
}

HRESULT CapturePin::Deliver(const VideoFormat& f, IReferenceClock* clock) {
    REFERENCE_TIME start;
    {
        std::lock_guard<std::mutex> guard(runLock_);
        if (!running_) return S_OK;
        start = start_;
    }
    IMediaSample* sample = nullptr;
    HRESULT hr = allocator_->GetBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE* data = nullptr;
    long length = SUCCEEDED(sample->GetPointer(&data)) ? FillSample(f, frame_, data, sample->GetSize()) : 0;
    if (length) {
        sample->SetActualDataLength(length);
        REFERENCE_TIME now;
        if (clock && SUCCEEDED(clock->GetTime(&now))) {
            REFERENCE_TIME begin = now - start, end = begin + kFrameInterval;
            sample->SetTime(&begin, &end);
        }
        LONGLONG mediaBegin = frame_, mediaEnd = frame_ + 1;
        sample->SetMediaTime(&mediaBegin, &mediaEnd);
        sample->SetSyncPoint(TRUE);
        sample->SetDiscontinuity(frame_ == 0);
        hr = input_->Receive(sample);
        ++frame_;
    } else {
        hr = VFW_E_BUFFER_OVERFLOW;
    }
    sample->Release();
    return hr;
}
