// The formats a stand-in device offers, how they read as text in the registry, and what their
// media types and samples look like.
#pragma once
#include <dshow.h>
#include <cstdint>
#include <string>
#include <vector>

enum class Encoding { Yuy2, Mjpg, Rgb24 };

struct VideoFormat {
    Encoding encoding;
    int width;
    int height;
};

constexpr REFERENCE_TIME kFrameInterval = 10000000 / 30;

// "YUY2 160x120;MJPG 640x480;RGB24 320x240" (names ignore case); false on anything else, on an
// odd YUY2 width or on a side outside 2..4096.
bool ParseFormats(const std::wstring& text, std::vector<VideoFormat>& formats);
std::wstring FormatsText(const std::vector<VideoFormat>& formats);

// Bytes of one picture; the most an MJPG sample may take.
long ImageSize(const VideoFormat& f);
// A FORMAT_VideoInfo media type; its format block must be freed with FreeMediaType.
HRESULT BuildMediaType(const VideoFormat& f, AM_MEDIA_TYPE& mt);
void BuildCaps(const VideoFormat& f, VIDEO_STREAM_CONFIG_CAPS& caps);
// Whether mt describes f: video, same subtype, FORMAT_VideoInfo with the same size and coding.
bool Describes(const AM_MEDIA_TYPE& mt, const VideoFormat& f);
// Writes frame n of f into dst; returns the bytes written, or 0 when capacity is too small.
long FillSample(const VideoFormat& f, uint32_t n, BYTE* dst, long capacity);
