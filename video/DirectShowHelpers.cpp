#include "video/DirectShowHelpers.h"
#include <cstdio>
#include <cstring>
#include <cwchar>

OwnedMediaType& OwnedMediaType::operator=(OwnedMediaType&& o) noexcept {
    if (this != &o) {
        Free();
        m_mt = o.m_mt;
        o.m_mt = AM_MEDIA_TYPE{};
    }
    return *this;
}

bool OwnedMediaType::Assign(const AM_MEDIA_TYPE& mt) {
    Free();
    m_mt = mt;
    m_mt.pbFormat = nullptr;
    m_mt.cbFormat = 0;
    if (m_mt.pUnk) m_mt.pUnk->AddRef();
    if (mt.cbFormat == 0 || !mt.pbFormat) return true;
    // CoTaskMem, as DirectShow frees format blocks that it is handed that way.
    m_mt.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(mt.cbFormat));
    if (!m_mt.pbFormat) return false;
    std::memcpy(m_mt.pbFormat, mt.pbFormat, mt.cbFormat);
    m_mt.cbFormat = mt.cbFormat;
    return true;
}

void OwnedMediaType::Free() {
    CoTaskMemFree(m_mt.pbFormat);
    if (m_mt.pUnk) m_mt.pUnk->Release();
    m_mt = AM_MEDIA_TYPE{};
}

void DeleteMediaTypeRecord(AM_MEDIA_TYPE* mt) {
    if (!mt) return;
    CoTaskMemFree(mt->pbFormat);
    if (mt->pUnk) mt->pUnk->Release();
    CoTaskMemFree(mt);
}

const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& mt) {
    if (mt.formattype != FORMAT_VideoInfo || !mt.pbFormat || mt.cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

namespace {

// Calls match(pin) for each pin in order and returns the first pin it accepts.
template <typename Match>
ComPtr<IPin> FirstPin(IBaseFilter* filter, Match match) {
    ComPtr<IEnumPins> pins;
    if (!filter || filter->EnumPins(&pins) != S_OK) return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        if (match(pin.Get())) return pin;
        pin.Reset();
    }
    return nullptr;
}

}  // namespace

ComPtr<IPin> GetPin(IBaseFilter* filter, const wchar_t* name) {
    ComPtr<IPin> found = FirstPin(filter, [name](IPin* pin) {
        PIN_INFO info{};
        if (pin->QueryPinInfo(&info) != S_OK) return false;
        if (info.pFilter) info.pFilter->Release();
        return _wcsicmp(info.achName, name) == 0;
    });
    if (!found) {
        std::fputs("Pin not found!\n", stdout);
        std::fflush(stdout);
    }
    return found;
}

ComPtr<IPin> GetPinByDirection(IBaseFilter* filter, PIN_DIRECTION direction, int position) {
    int seen = 0;
    return FirstPin(filter, [&](IPin* pin) {
        PIN_DIRECTION d;
        return pin->QueryDirection(&d) == S_OK && d == direction && seen++ == position;
    });
}

bool ReadDeviceProperty(IPropertyBag* bag, const wchar_t* property, std::wstring& value) {
    VARIANT v;
    VariantInit(&v);
    bool ok = bag->Read(property, &v, nullptr) == S_OK && v.vt == VT_BSTR && v.bstrVal;
    if (ok) value.assign(v.bstrVal, SysStringLen(v.bstrVal));
    VariantClear(&v);
    return ok;
}

ComPtr<IBaseFilter> FindCaptureFilter(const wchar_t* name, REFCLSID category) {
    ComPtr<ICreateDevEnum> devices;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&devices))))
        return nullptr;
    ComPtr<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(category, &monikers, 0) != S_OK) return nullptr;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        std::wstring friendly;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag))) &&
            ReadDeviceProperty(bag.Get(), L"FriendlyName", friendly) && friendly == name) {
            ComPtr<IBaseFilter> filter;
            if (moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&filter)) != S_OK) return nullptr;
            return filter;
        }
        moniker.Reset();
    }
    return nullptr;
}

std::wstring MonikerDisplayName(IMoniker* moniker) {
    ComPtr<IBindCtx> context;
    if (FAILED(CreateBindCtx(0, &context))) return {};
    LPOLESTR text = nullptr;
    std::wstring name;
    if (SUCCEEDED(moniker->GetDisplayName(context.Get(), nullptr, &text)) && text) name = text;
    CoTaskMemFree(text);
    return name;
}
