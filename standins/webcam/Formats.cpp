#include "standins/webcam/Formats.h"

#include "standins/webcam/StandinPattern.h"

#include <cstring>
#include <cwchar>

namespace {

struct EncodingInfo {
    Encoding encoding;
    const wchar_t* name;
    const GUID* subtype;
    DWORD compression;
    WORD bitCount;
};

const EncodingInfo kEncodings[] = {
    {Encoding::Yuy2, L"YUY2", &MEDIASUBTYPE_YUY2, MAKEFOURCC('Y', 'U', 'Y', '2'), 16},
    {Encoding::Mjpg, L"MJPG", &MEDIASUBTYPE_MJPG, MAKEFOURCC('M', 'J', 'P', 'G'), 24},
    {Encoding::Rgb24, L"RGB24", &MEDIASUBTYPE_RGB24, BI_RGB, 24},
};

const EncodingInfo& Info(Encoding e) {
    for (const auto& info : kEncodings)
        if (info.encoding == e) return info;
    return kEncodings[0];
}

bool ParseOne(const std::wstring& item, VideoFormat& f) {
    wchar_t name[8] = {};
    int w = 0, h = 0;
    wchar_t rest = 0;
    if (swscanf(item.c_str(), L" %7ls %dx%d %lc", name, &w, &h, &rest) != 3) return false;
    for (const auto& info : kEncodings) {
        if (_wcsicmp(name, info.name) != 0) continue;
        // Even widths keep YUY2 pixel pairs whole, and the RGB24 picture is derived from YUY2.
        if (w < 2 || h < 2 || w > 4096 || h > 4096 || w % 2) return false;
        f = {info.encoding, w, h};
        return true;
    }
    return false;
}

// A baseline JPEG of the frame's size, flat mid-grey: one component whose blocks all carry a
// zero DC difference and an end-of-block, each coded with a one-bit Huffman code.
long WriteGreyJpeg(int w, int h, BYTE* dst, long capacity) {
    const BYTE start[] = {0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0};  // SOI; DQT of table 0, all ones
    const BYTE frame[] = {
        0xFF, 0xC0, 0, 11, 8, BYTE(h >> 8), BYTE(h), BYTE(w >> 8), BYTE(w), 1, 1, 0x11, 0,  // SOF0
        0xFF, 0xC4, 0, 38,                                                                   // DHT
        0x00, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00,  // DC: category 0 only
        0x10, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00,  // AC: end of block only
        0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 63, 0,                      // SOS
    };
    const long blockBits = static_cast<long>((w + 7) / 8) * ((h + 7) / 8) * 2;
    const long scanBytes = (blockBits + 7) / 8;
    if (static_cast<long>(sizeof start + 64 + sizeof frame) + scanBytes + 2 > capacity) return 0;
    BYTE* p = dst;
    p = static_cast<BYTE*>(std::memcpy(p, start, sizeof start)) + sizeof start;
    p = static_cast<BYTE*>(std::memset(p, 1, 64)) + 64;
    p = static_cast<BYTE*>(std::memcpy(p, frame, sizeof frame)) + sizeof frame;
    p = static_cast<BYTE*>(std::memset(p, 0, scanBytes)) + scanBytes;
    if (int used = blockBits % 8) p[-1] = static_cast<BYTE>(0xFF >> used);  // pad with 1 bits
    *p++ = 0xFF;
    *p++ = 0xD9;  // EOI
    return static_cast<long>(p - dst);
}

}  // namespace

bool ParseFormats(const std::wstring& text, std::vector<VideoFormat>& formats) {
    std::vector<VideoFormat> parsed;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L';', start);
        if (end == std::wstring::npos) end = text.size();
        VideoFormat f;
        if (!ParseOne(text.substr(start, end - start), f)) return false;
        parsed.push_back(f);
        start = end + 1;
    }
    formats = std::move(parsed);
    return true;
}

std::wstring FormatsText(const std::vector<VideoFormat>& formats) {
    std::wstring text;
    for (const auto& f : formats) {
        if (!text.empty()) text += L';';
        text += Info(f.encoding).name;
        text += L' ' + std::to_wstring(f.width) + L'x' + std::to_wstring(f.height);
    }
    return text;
}

long ImageSize(const VideoFormat& f) {
    switch (f.encoding) {
    case Encoding::Rgb24: return static_cast<long>(StandinRgb24Stride(f.width)) * f.height;
    default: return static_cast<long>(f.width) * f.height * 2;
    }
}

HRESULT BuildMediaType(const VideoFormat& f, AM_MEDIA_TYPE& mt) {
    const EncodingInfo& info = Info(f.encoding);
    auto* vih = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!vih) return E_OUTOFMEMORY;
    ZeroMemory(vih, sizeof *vih);
    vih->AvgTimePerFrame = kFrameInterval;
    vih->dwBitRate = static_cast<DWORD>(ImageSize(f) * 8 * 30);
    BITMAPINFOHEADER& bmi = vih->bmiHeader;
    bmi.biSize = sizeof bmi;
    bmi.biWidth = f.width;
    bmi.biHeight = f.height;  // positive: RGB bottom-up; YUY2 is top-down whatever the sign
    bmi.biPlanes = 1;
    bmi.biBitCount = info.bitCount;
    bmi.biCompression = info.compression;
    bmi.biSizeImage = static_cast<DWORD>(ImageSize(f));

    ZeroMemory(&mt, sizeof mt);
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = *info.subtype;
    mt.bFixedSizeSamples = f.encoding != Encoding::Mjpg;
    mt.bTemporalCompression = FALSE;
    mt.lSampleSize = f.encoding == Encoding::Mjpg ? 0 : bmi.biSizeImage;
    mt.formattype = FORMAT_VideoInfo;
    mt.cbFormat = sizeof(VIDEOINFOHEADER);
    mt.pbFormat = reinterpret_cast<BYTE*>(vih);
    return S_OK;
}

void BuildCaps(const VideoFormat& f, VIDEO_STREAM_CONFIG_CAPS& caps) {
    ZeroMemory(&caps, sizeof caps);
    const SIZE size = {f.width, f.height};
    caps.guid = FORMAT_VideoInfo;
    caps.InputSize = caps.MinCroppingSize = caps.MaxCroppingSize = size;
    caps.MinOutputSize = caps.MaxOutputSize = size;
    caps.CropGranularityX = caps.CropGranularityY = 1;
    caps.CropAlignX = caps.CropAlignY = 1;
    caps.OutputGranularityX = caps.OutputGranularityY = 1;
    caps.MinFrameInterval = caps.MaxFrameInterval = kFrameInterval;
    caps.MinBitsPerSecond = caps.MaxBitsPerSecond = ImageSize(f) * 8 * 30;
}

bool Describes(const AM_MEDIA_TYPE& mt, const VideoFormat& f) {
    const EncodingInfo& info = Info(f.encoding);
    if (mt.majortype != MEDIATYPE_Video || mt.subtype != *info.subtype) return false;
    if (mt.formattype != FORMAT_VideoInfo || !mt.pbFormat || mt.cbFormat < sizeof(VIDEOINFOHEADER))
        return false;
    const BITMAPINFOHEADER& bmi = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
    return bmi.biWidth == f.width && bmi.biHeight == f.height && bmi.biCompression == info.compression &&
           bmi.biBitCount == info.bitCount;
}

long FillSample(const VideoFormat& f, uint32_t n, BYTE* dst, long capacity) {
    if (f.encoding == Encoding::Mjpg) return WriteGreyJpeg(f.width, f.height, dst, capacity);
    const long size = ImageSize(f);
    if (size > capacity) return 0;
    if (f.encoding == Encoding::Yuy2)
        StandinYuy2Frame(dst, f.width, f.height, n);
    else
        StandinRgb24Frame(dst, f.width, f.height, n);
    return size;
}
