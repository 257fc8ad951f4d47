// A capture output pin: offers its formats, connects to a downstream input pin over IMemInputPin
// and, while the filter is active, runs a thread that delivers the stand-in picture.
#pragma once
#include "standins/webcam/Formats.h"

#include <dshow.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CaptureFilter;

class CapturePin final : public IPin, public IAMStreamConfig, public IKsPropertySet {
public:
    CapturePin(CaptureFilter& filter, std::wstring name, std::vector<VideoFormat> formats);
    ~CapturePin();
    CapturePin(const CapturePin&) = delete;
    CapturePin& operator=(const CapturePin&) = delete;

    const std::wstring& Name() const { return name_; }

    // References count on the filter, which owns its pins.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
    STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** mt) override;
    STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
    STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override;

    STDMETHODIMP Set(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* data,
                     DWORD dataSize) override;
    STDMETHODIMP Get(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* data,
                     DWORD dataSize, DWORD* returned) override;
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

    // State changes, called by the filter under its lock.
    HRESULT Activate();  // stopped -> paused: commits the allocator, starts the thread
    void SetRunning(bool running, REFERENCE_TIME start);
    void Deactivate();   // -> stopped: ends the thread, decommits the allocator

private:
    std::vector<int> Offered() const;  // SetFormat's choice alone, else every format
    int Accepted(const AM_MEDIA_TYPE& mt) const;  // index of the offered format mt describes, or -1
    HRESULT TryConnect(IPin* receiver, const AM_MEDIA_TYPE& mt, int format);
    HRESULT DecideAllocator();
    HRESULT UseAllocator(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& wanted);
    void ReleaseConnection();
    void Stream(IReferenceClock* clock, IMediaEventSink* sink, HANDLE lost);
    HRESULT Deliver(const VideoFormat& f, IReferenceClock* clock);

    CaptureFilter& filter_;
    const std::wstring name_;
    const std::vector<VideoFormat> formats_;
    int chosen_ = -1;

    IPin* peer_ = nullptr;
    IMemInputPin* input_ = nullptr;
    IMemAllocator* allocator_ = nullptr;
    AM_MEDIA_TYPE mt_{};
    int connected_ = -1;

    std::thread thread_;
    HANDLE stop_;
    uint32_t frame_ = 0;  // the thread's own while active
    std::mutex runLock_;
    bool running_ = false;
    REFERENCE_TIME start_ = 0;
};
