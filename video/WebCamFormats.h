// The decisions of the webcam enumeration and graph that need no device: which capture formats
// are kept and how they are listed, and how a connected media type lays out its samples.
#pragma once
#include <windows.h>
#include <dshow.h>
#include <string>
#include <vector>
#include "video/VideoSource.h"
#include "video/WebCamConversions.h"

// One capability of an output pin, as IAMStreamConfig::GetStreamCaps reports it.
struct WebCamFormat {
    int pin = 0;  // position of the pin among the filter's output pins
    GUID majorType = GUID_NULL;
    GUID subType = GUID_NULL;
    GUID formatType = GUID_NULL;
    int width = 0;  // the size the stream then delivers (the media type's video header)
    int height = 0;
};

struct WebCamFormatSelection {
    std::vector<int> kept;                     // positions in the input: the media-type list
    std::vector<VideoResolution> resolutions;  // smallest area first; index into kept
};

// Largest BGR24 frame a format may have, its rows padded to 4 bytes. A frame is held several times
// at once in a 32-bit process (three buffers in the source, the live view's DIB section, the copy
// a capture or recording takes), so 128 MiB keeps them well inside its 2 GiB while admitting
// 7680 x 4320 (95 MiB). Below it every size the program computes from the frame (width x height x
// 3, stride x height, a row's bits) fits a 32-bit int.
constexpr long long kMaxWebCamFrameBytes = 128LL << 20;
// The padded BGR24 frame of a width x height picture, in 64 bits; -1 when a side is not positive,
// LLONG_MAX when the frame does not fit in 64 bits.
long long BgrFrameBytes(int width, int height);

// Keeps the YUY2 and MJPG video formats with a FORMAT_VideoInfo header and a frame within
// kMaxWebCamFrameBytes, in the order found over all pins, and lists them by area.
WebCamFormatSelection SelectWebCamFormats(const std::vector<WebCamFormat>& formats);
// The text of a format in the settings dialog's resolution list.
std::string ResolutionLabel(int width, int height);
// What GetStreamCaps reports, as a WebCamFormat.
WebCamFormat DescribeFormat(int pin, const AM_MEDIA_TYPE& mt);

// The device name of a capture graph: at most this many characters, zero-filled behind.
constexpr int kDeviceNameCapacity = 80;
// Copies name, cut to kDeviceNameCapacity - 1 characters, wide and 8-bit (low byte of each unit).
void CopyDeviceName(const std::wstring& name, wchar_t (&wide)[kDeviceNameCapacity],
                    char (&narrow)[kDeviceNameCapacity]);
std::string LowBytes(const std::wstring& text);

// The layout of the samples of a connected YUY2 or RGB24 FORMAT_VideoInfo stream; false for
// anything else. YUV samples are top-down whatever the sign of biHeight, RGB ones bottom-up when
// it is positive; rows are DWORD-aligned; rcTarget, when set, gives the picture's size
// (one at the origin only).
bool FrameLayoutFromMediaType(const AM_MEDIA_TYPE& mt, FrameLayout& layout);
