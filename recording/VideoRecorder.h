// One recording: the encoder its format chose, fed by the live view. UI thread only.
//
// Frames reach the encoder by the clock, not by the feeding pace: each format has fixed slots
// (AVI 60 ms, MPEG-2 1/30 s) counted from the first written frame, and a feeding hands its picture
// on once for every slot that has begun since the last written one (none when its slot is taken,
// several after a gap). A gap longer than a second of slots is cut to one frame, so a stall does
// not fill the file with copies. Slots the encoder drops (it is too far behind) are given up as well:
// later feedings do not fill them again.
#pragma once
#include "recording/VideoEncoder.h"
#include <cstdint>

// The VideoOutputFormat index: 0 AVI, 1 MPEG, 2 WMV (the MPEG-2 stream under another name).
enum VideoOutputFormat : int { VideoOutputAvi = 0, VideoOutputMpeg = 1, VideoOutputWmv = 2 };

// A recording's file extension and whether each feeding hands its frame twice; values outside
// the three formats behave as AVI.
struct RecordingFormat {
    const wchar_t* extension;
    bool doubleFrames;
};
inline RecordingFormat RecordingFormatOf(int format) {
    if (format == VideoOutputMpeg) return {L".mpg", true};
    if (format == VideoOutputWmv) return {L".wmv", true};
    return {L".avi", false};
}

class CVideoRecorder {
public:
    // Format 0 writes AVI; any other, MPEG-2.
    CVideoRecorder(const std::wstring& path, int width, int height, int bitsPerPixel, int formatIndex);
    // Takes ownership of the encoder.
    CVideoRecorder(VideoEncoder* encoder, const std::wstring& path, int width, int height, int bitsPerPixel,
                   int formatIndex);
    virtual ~CVideoRecorder();
    CVideoRecorder(const CVideoRecorder&) = delete;
    CVideoRecorder& operator=(const CVideoRecorder&) = delete;

    // False when the file cannot be created or the encoder cannot start.
    bool Start(const std::wstring& path, int framePeriodMs);
    // False when the recording cannot go on (a write failed, or the file is full). A picture of
    // another size than the recording's is refused, counted and not written; that is no failure.
    bool AddFrame(const unsigned char* pixels, HBITMAP dibSection);
    // Finishes the file; false when that failed.
    bool Stop();
    RecordingState State() const;

    int width;
    int height;
    int bitsPerPixel;
    std::wstring path;
    int formatIndex;
    VideoEncoder* encoder;

    // Feedings handed over, frames written, feedings whose slot was taken, pictures refused for
    // their size, slots given up to a stall or dropped by the encoder.
    struct Counters {
        uint64_t handed = 0, written = 0, skipped = 0, refused = 0, dropped = 0;
    } counters;

protected:
    // A monotonic clock in microseconds.
    virtual int64_t NowMicroseconds();

private:
    int64_t SlotOf(int64_t elapsedUs) const;
    int64_t SlotStartUs(int64_t slot) const;

    bool m_started = false;  // t0 is set by the first written frame
    int64_t m_t0 = 0;
    int64_t m_lost = 0;  // slots since t0 whose picture the encoder dropped
    bool m_failed = false;
};
