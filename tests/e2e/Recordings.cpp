#include "tests/e2e/Recordings.h"
#include <algorithm>
#include "tests/avi/AviTestSupport.h"
#include "tests/support/Files.h"

namespace e2e {

namespace {

uint32_t Dword(const std::string& f, size_t at) {
    return uint8_t(f[at]) | uint8_t(f[at + 1]) << 8 | uint8_t(f[at + 2]) << 16 | uint32_t(uint8_t(f[at + 3])) << 24;
}

// The chunks of a RIFF file up to `end`, for failure messages.
std::string Chunks(const std::string& f, size_t end) {
    std::string list;
    for (size_t at = 12; at + 8 <= end; at += 8 + (Dword(f, at + 4) + 1) / 2 * 2)
        list += f.substr(at, 4) + " " + std::to_string(Dword(f, at + 4)) + " at " + std::to_string(at) + "; ";
    return list;
}

const std::wstring kRecordingNotice = L"      Recording...     ";
const std::wstring kNoticeGone(66, L' ');

// The capture controls as the operator sees them.
struct CaptureControls {
    std::wstring caption, status;
    bool videoEnabled = false, imageEnabled = false;
    bool red = false;  // most of the button's face is RGB(255, 0, 0)
};

CaptureControls ControlsOf(const Window& dialog, bool lookAtColour) {
    CaptureControls c;
    Window video = dialog.ChildOrThrow(kCaptureVideo);
    c.caption = video.Text();
    c.status = dialog.ChildOrThrow(kStatus).Text();
    c.videoEnabled = video.Enabled();
    c.imageEnabled = dialog.ChildOrThrow(kCaptureImage).Enabled();
    if (lookAtColour) {
        Picture face = video.ScreenPixels();
        c.red = face.Count([](COLORREF p) { return p == RGB(255, 0, 0); }) > face.pixels.size() / 2;
    }
    return c;
}

}  // namespace

testing::AssertionResult ShowsRecording(const Window& dialog, bool recording, bool lookAtColour) {
    CaptureControls c;
    auto shows = [&] {
        c = ControlsOf(dialog, lookAtColour);
        bool colour = !lookAtColour || c.red == recording;
        if (recording)
            return c.caption == L"Stop Capture" && c.status == kRecordingNotice && c.videoEnabled && !c.imageEnabled &&
                   colour;
        return c.caption == L"Capture Video" && c.status == kNoticeGone && c.videoEnabled && c.imageEnabled && colour;
    };
    if (WaitUntil(shows, 10s))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "caption \"" << Narrow(c.caption) << "\", status \"" << Narrow(c.status)
                                       << "\", Capture Video " << (c.videoEnabled ? "enabled" : "disabled")
                                       << ", Capture Image " << (c.imageEnabled ? "enabled" : "disabled")
                                       << (lookAtColour ? (c.red ? ", red" : ", not red") : "");
}

bool EndsWith(const std::wstring& name, const std::wstring& end) {
    return name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
}

bool StartCodeAt(const std::string& f, size_t at, uint8_t code) {
    return f.size() >= at + 4 && f[at] == 0 && f[at + 1] == 0 && f[at + 2] == 1 && uint8_t(f[at + 3]) == code;
}

testing::AssertionResult IsFinishedAvi(const std::wstring& path, int w, int h, std::vector<Bitmap>* frames) {
    const std::string file = ReadBytes(path);
    if (file.size() < 12 || file.compare(0, 4, "RIFF") || file.compare(8, 4, "AVI "))
        return testing::AssertionFailure() << "no AVI file (" << file.size() << " bytes)";
    const size_t end = 8 + size_t(Dword(file, 4));
    if (end > file.size())
        return testing::AssertionFailure() << "RIFF size " << Dword(file, 4) << " in a file of " << file.size();
    size_t at = 12, movie = 0, index = 0;
    for (; at + 8 <= end; at += 8 + (Dword(file, at + 4) + 1) / 2 * 2) {
        if (file.compare(at, 4, "LIST") == 0 && file.compare(at + 8, 4, "movi") == 0)
            movie = at;
        if (file.compare(at, 4, "idx1") == 0)
            index = at;
    }
    if (at != end || !movie || index < movie)
        return testing::AssertionFailure() << "chunks " << Chunks(file, end) << "in a RIFF chunk of " << end
                                           << " bytes";
    AviContents avi = ReadAvi(path);
    if (!avi.opened || !avi.hasVideo)
        return testing::AssertionFailure() << (avi.opened ? "no video stream" : "AVIFile cannot open it");
    const BITMAPINFOHEADER& f = avi.format;
    if (f.biWidth != w || f.biHeight != h || f.biBitCount != 24)
        return testing::AssertionFailure() << "frames of " << f.biWidth << "x" << f.biHeight << "x" << f.biBitCount
                                           << ", expected " << w << "x" << h << "x24";
    if (avi.frames.empty() || avi.frames.size() != avi.info.dwLength)
        return testing::AssertionFailure() << avi.frames.size() << " frames read of " << avi.info.dwLength;
    const size_t stride = (size_t(w) * 3 + 3) / 4 * 4;
    frames->clear();
    for (size_t i = 0; i < avi.frames.size(); ++i) {
        const std::string& data = avi.frames[i];
        if (data.size() != stride * h)
            return testing::AssertionFailure() << "frame " << i << " has " << data.size() << " bytes";
        Bitmap frame{w, h, std::vector<uint8_t>(size_t(w) * 3 * h)};
        for (int row = 0; row < h; ++row) {  // bottom row first in the file
            const char* from = data.data() + stride * (h - 1 - row);
            std::copy(from, from + w * 3, frame.pixels.begin() + size_t(row) * w * 3);
        }
        frames->push_back(std::move(frame));
    }
    return testing::AssertionSuccess();
}

}  // namespace e2e
