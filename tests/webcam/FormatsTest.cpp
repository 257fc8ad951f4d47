#include <gtest/gtest.h>
#include <climits>
#include <string>
#include <vector>
#include "video/WebCamFormats.h"

namespace {

WebCamFormat Format(int pin, const GUID& subtype, int w, int h, const GUID& formatType = FORMAT_VideoInfo,
                    const GUID& major = MEDIATYPE_Video) {
    WebCamFormat f;
    f.pin = pin;
    f.majorType = major;
    f.subType = subtype;
    f.formatType = formatType;
    f.width = w;
    f.height = h;
    return f;
}

std::vector<std::string> Labels(const WebCamFormatSelection& s) {
    std::vector<std::string> out;
    for (const VideoResolution& r : s.resolutions) out.push_back(r.label);
    return out;
}

// A FORMAT_VideoInfo media type over a header kept by the caller.
AM_MEDIA_TYPE VideoType(const GUID& subtype, VIDEOINFOHEADER& vih, int w, int h, int bits, RECT target = {}) {
    vih = VIDEOINFOHEADER{};
    vih.rcTarget = target;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = w;
    vih.bmiHeader.biHeight = h;
    vih.bmiHeader.biBitCount = static_cast<WORD>(bits);
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = subtype;
    mt.formattype = FORMAT_VideoInfo;
    mt.cbFormat = sizeof vih;
    mt.pbFormat = reinterpret_cast<BYTE*>(&vih);
    return mt;
}

}  // namespace

TEST(WebCamFormats, KeepsYuy2AndMjpgWithVideoInfoOnly) {
    const std::vector<WebCamFormat> formats = {
        Format(0, MEDIASUBTYPE_YUY2, 640, 480),
        Format(0, MEDIASUBTYPE_RGB24, 320, 240),
        Format(0, MEDIASUBTYPE_MJPG, 1280, 720),
        Format(0, MEDIASUBTYPE_YUY2, 800, 600, FORMAT_VideoInfo2),
        Format(0, MEDIASUBTYPE_YUY2, 1024, 768, FORMAT_VideoInfo, MEDIATYPE_Audio),
        Format(0, MEDIASUBTYPE_YUY2, 0, 0),  // no video header to size it
    };
    WebCamFormatSelection s = SelectWebCamFormats(formats);
    EXPECT_EQ(s.kept, (std::vector<int>{0, 2}));
    EXPECT_EQ(Labels(s), (std::vector<std::string>{"640x480", "1280x720"}));
    for (const VideoResolution& r : s.resolutions) EXPECT_EQ(r.bitsPerPixel, 24);
}

// A format is listed only when its frame can be held: sizes whose frame bytes (or padded rows)
// overflow 32 bits, that are not positive, or above the bound are left out; opening one would
// throw from the buffer allocation.
TEST(WebCamFormats, FramesTooLargeToHoldAreNotListed) {
    const struct {
        int width, height;
        bool listed;
    } cases[] = {
        {640, 480, true},
        {1920, 1080, true},
        {7680, 4320, true},
        {1, 1, true},
        {10922, 4096, true},    // rows of 32766 bytes padded to 32768: 128 MiB, the bound itself
        {10923, 4096, false},   // rows padded to 32772: just over
        {44739242, 1, true},    // one row of 134217728 bytes
        {44739243, 1, false},   // 134217732
        {1, 33554432, true},    // 3 bytes padded to 4, 32 Mi rows: 128 MiB
        {1, 33554433, false},
        {65536, 65536, false},  // the area alone overflows 32 bits
        {37838, 37838, false},  // x 3 just past 2^32: wraps to 175436 bytes in 32 bits
        {26755, 26755, false},  // x 3 just past 2^31: negative in a 32-bit int
        {0x7FFFFFFF, 2, false},
        {2, 0x7FFFFFFF, false},
        {-640, 480, false},
        {640, -480, false},
        {INT_MIN, INT_MIN, false},
        {INT_MAX, INT_MAX, false},  // the padded frame overflows 64 bits
        {0, 480, false},
    };
    std::vector<WebCamFormat> formats;
    std::vector<std::string> listed;
    for (const auto& c : cases) {
        formats.push_back(Format(0, MEDIASUBTYPE_YUY2, c.width, c.height));
        if (c.listed) listed.push_back(ResolutionLabel(c.width, c.height));
    }
    const WebCamFormatSelection s = SelectWebCamFormats(formats);
    std::vector<std::string> got;
    for (int kept : s.kept) got.push_back(ResolutionLabel(formats[kept].width, formats[kept].height));
    EXPECT_EQ(got, listed);
}

TEST(WebCamFormats, OnlyOtherFormatsGiveNoResolution) {
    WebCamFormatSelection s = SelectWebCamFormats({Format(0, MEDIASUBTYPE_RGB24, 320, 240)});
    EXPECT_TRUE(s.kept.empty());
    EXPECT_TRUE(s.resolutions.empty());
}

TEST(WebCamFormats, SortsByAreaAndIndexesTheMediaTypeList) {
    // Found 1280x720, 640x480, 160x120: listed smallest first, 640x480 still the second found.
    WebCamFormatSelection s = SelectWebCamFormats({Format(0, MEDIASUBTYPE_YUY2, 1280, 720),
                                                   Format(0, MEDIASUBTYPE_YUY2, 640, 480),
                                                   Format(0, MEDIASUBTYPE_YUY2, 160, 120)});
    EXPECT_EQ(Labels(s), (std::vector<std::string>{"160x120", "640x480", "1280x720"}));
    EXPECT_EQ(s.resolutions[1].index, 1);
    EXPECT_EQ(s.resolutions[0].index, 2);
    EXPECT_EQ(s.resolutions[2].index, 0);
}

TEST(WebCamFormats, IndexesContinueOverTheSecondPin) {
    const std::vector<WebCamFormat> formats = {
        Format(0, MEDIASUBTYPE_YUY2, 1280, 720),
        Format(0, MEDIASUBTYPE_RGB24, 320, 240),
        Format(0, MEDIASUBTYPE_YUY2, 640, 480),
        Format(1, MEDIASUBTYPE_MJPG, 400, 400),
        Format(1, MEDIASUBTYPE_YUY2, 160, 120),
    };
    WebCamFormatSelection s = SelectWebCamFormats(formats);
    EXPECT_EQ(s.kept, (std::vector<int>{0, 2, 3, 4}));
    struct Want {
        const char* label;
        int index, pin;
    };
    const Want want[] = {{"160x120", 3, 1}, {"400x400 (200x200)", 2, 1}, {"640x480", 1, 0}, {"1280x720", 0, 0}};
    ASSERT_EQ(s.resolutions.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const VideoResolution& r = s.resolutions[i];
        EXPECT_EQ(r.label, want[i].label);
        EXPECT_EQ(r.index, want[i].index) << r.label;
        const WebCamFormat& f = formats[s.kept[r.index]];
        EXPECT_EQ(f.pin, want[i].pin) << r.label;
        EXPECT_EQ(f.width, r.width) << r.label;
        EXPECT_EQ(f.height, r.height) << r.label;
    }
}

TEST(WebCamFormats, EqualAreasKeepTheOrderFound) {
    WebCamFormatSelection s = SelectWebCamFormats(
        {Format(0, MEDIASUBTYPE_YUY2, 480, 640), Format(0, MEDIASUBTYPE_MJPG, 640, 480), Format(0, MEDIASUBTYPE_YUY2, 320, 240)});
    EXPECT_EQ(Labels(s), (std::vector<std::string>{"320x240", "480x640", "640x480"}));
}

TEST(WebCamFormats, Labels) {
    EXPECT_EQ(ResolutionLabel(400, 400), "400x400 (200x200)");
    EXPECT_EQ(ResolutionLabel(640, 480), "640x480");
    EXPECT_EQ(ResolutionLabel(400, 300), "400x300");
    EXPECT_EQ(ResolutionLabel(1920, 1080), "1920x1080");
}

TEST(WebCamFormats, DescribeReadsTheVideoHeader) {
    VIDEOINFOHEADER vih;
    AM_MEDIA_TYPE mt = VideoType(MEDIASUBTYPE_YUY2, vih, 640, -480, 16);
    WebCamFormat f = DescribeFormat(1, mt);
    EXPECT_EQ(f.pin, 1);
    EXPECT_EQ(f.width, 640);
    EXPECT_EQ(f.height, 480);
    EXPECT_TRUE(f.subType == MEDIASUBTYPE_YUY2);
    mt.cbFormat = sizeof(VIDEOINFOHEADER) - 1;  // too short to hold a header
    EXPECT_EQ(DescribeFormat(0, mt).width, 0);

    // Top-down heights are listed by their size; the one without a positive counterpart stays
    // negative, and so is never listed.
    const struct {
        LONG header;
        int height;
    } heights[] = {{480, 480}, {-LONG_MAX, INT_MAX}, {LONG_MIN, INT_MIN}};
    for (const auto& h : heights) {
        mt = VideoType(MEDIASUBTYPE_YUY2, vih, 2, h.header, 16);
        EXPECT_EQ(DescribeFormat(0, mt).height, h.height) << h.header;
    }
}

TEST(DeviceName, CutTo79CharactersAndZeroFilled) {
    struct Case {
        std::wstring name;
        std::wstring wide;
        std::string narrow;
    };
    const std::wstring hundred(100, L'n');
    const Case cases[] = {
        {hundred, hundred.substr(0, 79), std::string(79, 'n')},
        {std::wstring(79, L'x'), std::wstring(79, L'x'), std::string(79, 'x')},
        {L"Cam \u0141", L"Cam \u0141", "Cam A"},  // 8-bit: the low byte of each unit (0x41)
    };
    for (const Case& c : cases) {
        wchar_t wide[kDeviceNameCapacity];
        char narrow[kDeviceNameCapacity];
        std::fill(std::begin(wide), std::end(wide), L'?');
        std::fill(std::begin(narrow), std::end(narrow), '?');
        CopyDeviceName(c.name, wide, narrow);
        EXPECT_EQ(std::wstring(wide), c.wide);
        EXPECT_EQ(std::string(narrow), c.narrow);
        EXPECT_EQ(std::wstring(kDeviceNameCapacity - c.wide.size(), L'\0'),
                  std::wstring(wide + c.wide.size(), wide + kDeviceNameCapacity));
        EXPECT_EQ(std::string(kDeviceNameCapacity - c.narrow.size(), '\0'),
                  std::string(narrow + c.narrow.size(), narrow + kDeviceNameCapacity));
    }
}

TEST(FrameLayout, FromConnectedMediaType) {
    struct Case {
        const char* what;
        GUID subtype;
        int w, h, bits;
        RECT target;
        bool ok;
        FrameLayout want;
    };
    const Case cases[] = {
        {"YUY2", MEDIASUBTYPE_YUY2, 640, 480, 16, {}, true, {SampleFormat::Yuy2, 640, 480, 1280, false}},
        {"YUY2 negative height is top-down too", MEDIASUBTYPE_YUY2, 160, -120, 16, {}, true, {SampleFormat::Yuy2, 160, 120, 320, false}},
        {"RGB24 bottom-up, padded rows", MEDIASUBTYPE_RGB24, 3, 2, 24, {}, true, {SampleFormat::Rgb24, 3, 2, 12, true}},
        {"RGB24 top-down", MEDIASUBTYPE_RGB24, 320, -240, 24, {}, true, {SampleFormat::Rgb24, 320, 240, 960, false}},
        {"target narrower than the rows", MEDIASUBTYPE_YUY2, 704, 480, 16, {0, 0, 640, 480}, true, {SampleFormat::Yuy2, 640, 480, 1408, false}},
        {"target off the origin", MEDIASUBTYPE_YUY2, 704, 480, 16, {8, 0, 648, 480}, false, {}},
        {"odd YUY2 width", MEDIASUBTYPE_YUY2, 641, 480, 16, {}, false, {}},
        {"MJPG", MEDIASUBTYPE_MJPG, 640, 480, 24, {}, false, {}},
        {"rows overflowing 32 bits", MEDIASUBTYPE_YUY2, 0x40000000, 2, 16, {}, false, {}},
        {"frame larger than any listed format", MEDIASUBTYPE_RGB24, 10923, 4096, 24, {}, false, {}},
        {"largest listed frame", MEDIASUBTYPE_RGB24, 10922, -4096, 24, {}, true, {SampleFormat::Rgb24, 10922, 4096, 32768, false}},
        // The largest headers: RGB24 stride x rows overflows 64 bits; YUY2 reaches 2^63 INT_MAX wide
        // with 2^31 rows, and just under it an even width.
        {"RGB24 widest and tallest top-down", MEDIASUBTYPE_RGB24, INT_MAX, -0x7FFFFFFF, 24, {}, false, {}},
        {"RGB24 widest, height -2^31", MEDIASUBTYPE_RGB24, INT_MAX, LONG_MIN, 24, {}, false, {}},
        {"YUY2 widest even, tallest top-down", MEDIASUBTYPE_YUY2, INT_MAX - 1, -0x7FFFFFFF, 16, {}, false, {}},
        {"YUY2 widest even, height -2^31", MEDIASUBTYPE_YUY2, INT_MAX - 1, LONG_MIN, 16, {}, false, {}},
        {"YUY2 widest, height -2^31", MEDIASUBTYPE_YUY2, INT_MAX, LONG_MIN, 16, {}, false, {}},
    };
    for (const Case& c : cases) {
        VIDEOINFOHEADER vih;
        AM_MEDIA_TYPE mt = VideoType(c.subtype, vih, c.w, c.h, c.bits, c.target);
        FrameLayout got;
        ASSERT_EQ(FrameLayoutFromMediaType(mt, got), c.ok) << c.what;
        if (!c.ok) continue;
        EXPECT_EQ(got.format, c.want.format) << c.what;
        EXPECT_EQ(got.width, c.want.width) << c.what;
        EXPECT_EQ(got.height, c.want.height) << c.what;
        EXPECT_EQ(got.stride, c.want.stride) << c.what;
        EXPECT_EQ(got.bottomUp, c.want.bottomUp) << c.what;
    }
    AM_MEDIA_TYPE none{};
    none.majortype = MEDIATYPE_Video;
    none.subtype = MEDIASUBTYPE_YUY2;
    none.formattype = FORMAT_VideoInfo;
    FrameLayout got;
    EXPECT_FALSE(FrameLayoutFromMediaType(none, got)) << "no format block";
}
