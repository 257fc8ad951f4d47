// What the device layer needs of DirectShow beyond mingw-w64's headers: the class IDs that
// libstrmiids.a defines but no header declares, media-type ownership, and pin and device look-ups.
#pragma once
#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>
#include <string>

using Microsoft::WRL::ComPtr;

EXTERN_C const CLSID CLSID_SampleGrabber;
EXTERN_C const CLSID CLSID_NullRenderer;
// control.h declares IID_IMediaEventEx but not its __uuidof, which IID_PPV_ARGS needs.
__CRT_UUID_DECL(IMediaEventEx, 0x56a868c0, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70)

// Owns one AM_MEDIA_TYPE (its format block and pUnk); copies are deep.
class OwnedMediaType {
public:
    OwnedMediaType() : m_mt{} {}
    explicit OwnedMediaType(const AM_MEDIA_TYPE& mt) : m_mt{} { Assign(mt); }
    OwnedMediaType(const OwnedMediaType& o) : m_mt{} { Assign(o.m_mt); }
    OwnedMediaType(OwnedMediaType&& o) noexcept : m_mt(o.m_mt) { o.m_mt = AM_MEDIA_TYPE{}; }
    OwnedMediaType& operator=(const OwnedMediaType& o) {
        if (this != &o) Assign(o.m_mt);
        return *this;
    }
    OwnedMediaType& operator=(OwnedMediaType&& o) noexcept;
    ~OwnedMediaType() { Free(); }

    // False when the format block could not be allocated (the copy then has none).
    bool Assign(const AM_MEDIA_TYPE& mt);
    void Free();
    const AM_MEDIA_TYPE& Get() const { return m_mt; }
    // Frees the current content and hands out the record for a call that fills it.
    AM_MEDIA_TYPE* Put() { Free(); return &m_mt; }

private:
    AM_MEDIA_TYPE m_mt;
};

// Frees a record that DirectShow allocated with CoTaskMemAlloc (IAMStreamConfig::GetStreamCaps).
void DeleteMediaTypeRecord(AM_MEDIA_TYPE* mt);

// The video header of a FORMAT_VideoInfo media type, or null when it has none.
const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& mt);

// The filter's first pin whose name equals name, ignoring case. With none it prints
// "Pin not found!" on the standard output and returns null.
ComPtr<IPin> GetPin(IBaseFilter* filter, const wchar_t* name);
// The filter's pin of the given direction with that position among the pins of that direction.
ComPtr<IPin> GetPinByDirection(IBaseFilter* filter, PIN_DIRECTION direction, int position = 0);

// The filter of the first device of the category whose "FriendlyName" equals name exactly.
ComPtr<IBaseFilter> FindCaptureFilter(const wchar_t* name, REFCLSID category);

// Reads a string property of a device's property bag; false when it has none.
bool ReadDeviceProperty(IPropertyBag* bag, const wchar_t* property, std::wstring& value);
// The moniker's display name, which tells devices apart; empty when it cannot be read.
std::wstring MonikerDisplayName(IMoniker* moniker);
