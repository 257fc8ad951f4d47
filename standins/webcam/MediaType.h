// AM_MEDIA_TYPE ownership helpers (the DirectShow base classes are not used here). Format blocks
// and records handed across COM boundaries live in CoTaskMem, as callers free them that way.
#pragma once
#include <dshow.h>

inline void FreeMediaType(AM_MEDIA_TYPE& mt) {
    CoTaskMemFree(mt.pbFormat);
    mt.pbFormat = nullptr;
    mt.cbFormat = 0;
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

inline void DeleteMediaType(AM_MEDIA_TYPE* mt) {
    if (mt) {
        FreeMediaType(*mt);
        CoTaskMemFree(mt);
    }
}

inline HRESULT CopyMediaType(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src) {
    dst = src;
    if (src.cbFormat) {
        dst.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src.cbFormat));
        if (!dst.pbFormat) {
            dst.cbFormat = 0;
            dst.pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        CopyMemory(dst.pbFormat, src.pbFormat, src.cbFormat);
    }
    if (dst.pUnk) dst.pUnk->AddRef();
    return S_OK;
}

// A CoTaskMem copy, as IEnumMediaTypes::Next and IAMStreamConfig hand out.
inline AM_MEDIA_TYPE* CloneMediaType(const AM_MEDIA_TYPE& src) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (mt && FAILED(CopyMediaType(*mt, src))) {
        CoTaskMemFree(mt);
        mt = nullptr;
    }
    return mt;
}
