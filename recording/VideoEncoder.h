// The interface of the video-file writers the recorder owns.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>

// Where a recording stands: frames are being written, a write failed, or the file is full.
enum class RecordingState { Recording, Failed, Full };

class VideoEncoder {
public:
    virtual ~VideoEncoder() = default;
    // Creates the output file; false when it cannot be created or the encoder cannot start.
    virtual bool Open(const std::wstring& path, int framePeriodMs) = 0;
    // Appends one frame: BGR24 pixels (row 0 on top, no row gap) and the live view's DIB section
    // holding the same picture; each encoder uses one of the two. False when it was not written.
    virtual bool AddFrame(const unsigned char* pixels, HBITMAP dibSection) = 0;
    // Finishes and closes the file; false when that failed.
    virtual bool Close() = 0;
    virtual RecordingState State() const = 0;
    // Pictures the file is known to hold since Open: written, and accepted by the system.
    virtual uint64_t PicturesInFile() const = 0;
    // Pictures AddFrame accepted (true) but left out of the file because the encoder was behind.
    virtual uint64_t DroppedPictures() const { return 0; }
};
