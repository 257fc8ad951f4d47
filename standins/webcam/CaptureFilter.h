// The stand-in device's filter: a live source with one or more capture pins, configured from the
// device's property bag (see StandinWebcam.h).
#pragma once
#include "standins/webcam/Formats.h"

#include <dshow.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CapturePin;

class CaptureFilter final : public IBaseFilter, public IPersistPropertyBag, public IAMFilterMiscFlags {
public:
    CaptureFilter();
    CaptureFilter(const CaptureFilter&) = delete;
    CaptureFilter& operator=(const CaptureFilter&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetClassID(CLSID* clsid) override;

    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    STDMETHODIMP GetState(DWORD timeout, FILTER_STATE* state) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;

    STDMETHODIMP EnumPins(IEnumPins** pins) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

    STDMETHODIMP InitNew() override;
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
    STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

    STDMETHODIMP_(ULONG) GetMiscFlags() override;

    // For the pins. The lock guards connection and state changes; it is recursive because the
    // graph calls back into the pins while a pin asks it to reconnect.
    std::recursive_mutex& Lock() { return lock_; }
    FILTER_STATE State() const { return state_; }
    IFilterGraph* Graph() const { return graph_; }
    IMediaEventSink* Sink() const { return sink_; }
    IReferenceClock* Clock() const { return clock_; }
    HANDLE LostEvent() const { return lost_; }
    // From streaming threads: tells the graph once per activation that the device is gone.
    void ReportLost(IMediaEventSink* sink);

private:
    ~CaptureFilter();
    void MakePins(const std::vector<VideoFormat>& formats, int pins);
    HRESULT Activate();
    void Deactivate();

    std::atomic<ULONG> refs_{1};
    std::recursive_mutex lock_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    IReferenceClock* clock_ = nullptr;
    // Not counted: the graph holds the filter, and the sink is part of the graph.
    IFilterGraph* graph_ = nullptr;
    IMediaEventSink* sink_ = nullptr;
    std::wstring name_;
    std::vector<std::unique_ptr<CapturePin>> pins_;
    bool pinsHandedOut_ = false;
    bool initialized_ = false;
    HANDLE lost_ = nullptr;
    std::atomic<bool> lostReported_{false};
};
