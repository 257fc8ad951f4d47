#include "video/WebCamFormats.h"
#include <algorithm>
#include <climits>
#include <cstdlib>
#include "video/DirectShowHelpers.h"

std::string ResolutionLabel(int width, int height) {
    if (width == 400 && height == 400) return "400x400 (200x200)";
    return std::to_string(width) + "x" + std::to_string(height);
}

long long BgrFrameBytes(int width, int height) {
    if (width <= 0 || height <= 0) return -1;
    const long long stride = (static_cast<long long>(width) * 3 + 3) & ~3LL;
    // Rows of up to 3 x 2^31 bytes, up to 2^31 of them: the product need not fit, and a signed
    // overflow would be undefined.
    if (stride > LLONG_MAX / height) return LLONG_MAX;
    return stride * height;
}

WebCamFormatSelection SelectWebCamFormats(const std::vector<WebCamFormat>& formats) {
    WebCamFormatSelection out;
    for (size_t i = 0; i < formats.size(); ++i) {
        const WebCamFormat& f = formats[i];
        bool coding = f.subType == MEDIASUBTYPE_YUY2 || f.subType == MEDIASUBTYPE_MJPG;
        if (f.majorType != MEDIATYPE_Video || !coding || f.formatType != FORMAT_VideoInfo) continue;
        // Opening a larger one would overflow its buffer sizes or exhaust the address space.
        const long long bytes = BgrFrameBytes(f.width, f.height);
        if (bytes < 0 || bytes > kMaxWebCamFrameBytes) continue;
        VideoResolution r;
        r.index = static_cast<int>(out.kept.size());
        r.width = f.width;
        r.height = f.height;
        r.bitsPerPixel = 24;
        r.label = ResolutionLabel(f.width, f.height);
        out.kept.push_back(static_cast<int>(i));
        out.resolutions.push_back(r);
    }
    std::stable_sort(out.resolutions.begin(), out.resolutions.end(),
                     [](const VideoResolution& a, const VideoResolution& b) {
                         return static_cast<long long>(a.width) * a.height <
                                static_cast<long long>(b.width) * b.height;
                     });
    return out;
}

WebCamFormat DescribeFormat(int pin, const AM_MEDIA_TYPE& mt) {
    WebCamFormat f;
    f.pin = pin;
    f.majorType = mt.majortype;
    f.subType = mt.subtype;
    f.formatType = mt.formattype;
    // The capability record's sizes may be a range; the header is what SetFormat then applies.
    if (const VIDEOINFOHEADER* vih = VideoInfoOf(mt)) {
        f.width = vih->bmiHeader.biWidth;
        // A height that has no positive counterpart stays negative, and so is not listed.
        const LONG height = vih->bmiHeader.biHeight;
        f.height = height < 0 && height != LONG_MIN ? -height : height;
    }
    return f;
}

std::string LowBytes(const std::wstring& text) {
    std::string out(text.size(), '\0');
    std::transform(text.begin(), text.end(), out.begin(), [](wchar_t c) { return static_cast<char>(c & 0xFF); });
    return out;
}

void CopyDeviceName(const std::wstring& name, wchar_t (&wide)[kDeviceNameCapacity],
                    char (&narrow)[kDeviceNameCapacity]) {
    std::wstring cut = name.substr(0, kDeviceNameCapacity - 1);
    std::string bytes = LowBytes(cut);
    std::fill(std::begin(wide), std::end(wide), L'\0');
    std::fill(std::begin(narrow), std::end(narrow), '\0');
    std::copy(cut.begin(), cut.end(), wide);
    std::copy(bytes.begin(), bytes.end(), narrow);
}

bool FrameLayoutFromMediaType(const AM_MEDIA_TYPE& mt, FrameLayout& layout) {
    const VIDEOINFOHEADER* vih = VideoInfoOf(mt);
    if (mt.majortype != MEDIATYPE_Video || !vih) return false;
    const BITMAPINFOHEADER& bmi = vih->bmiHeader;
    int bits;
    if (mt.subtype == MEDIASUBTYPE_YUY2) {
        layout.format = SampleFormat::Yuy2;
        layout.bottomUp = false;
        bits = 16;
    } else if (mt.subtype == MEDIASUBTYPE_RGB24) {
        layout.format = SampleFormat::Rgb24;
        layout.bottomUp = bmi.biHeight > 0;
        bits = 24;
    } else {
        return false;
    }
    if (bmi.biWidth <= 0 || bmi.biHeight == 0) return false;
    // A sample larger than any listed format is refused before its sizes overflow.
    const long long stride = (static_cast<long long>(bmi.biWidth) * bits + 31) / 32 * 4;
    const long long rows = std::abs(static_cast<long long>(bmi.biHeight));
    // The stride first: rows of up to 3 x 2^31 bytes times up to 2^31 rows need not fit in 64 bits.
    if (stride > kMaxWebCamFrameBytes || stride * rows > kMaxWebCamFrameBytes) return false;
    const RECT& target = vih->rcTarget;
    bool hasTarget = target.right > target.left && target.bottom > target.top;
    if (hasTarget && (target.left != 0 || target.top != 0)) return false;
    layout.width = hasTarget ? target.right - target.left : bmi.biWidth;
    layout.height = hasTarget ? target.bottom - target.top : static_cast<int>(rows);
    layout.stride = static_cast<int>(stride);
    if (layout.width > bmi.biWidth || layout.height > rows) return false;
    if (layout.format == SampleFormat::Yuy2 && layout.width % 2) return false;
    return true;
}
