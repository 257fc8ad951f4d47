// The AVI writer of output format 0: the live view's DIB section, frame by frame, as uncompressed
// key frames at 1000/60 frames per second, whatever the caller's period. UI thread only.
#pragma once
#include "recording/AviWriter.h"
#include "recording/VideoEncoder.h"

class Avi10VideoEncoder : public VideoEncoder {
public:
    Avi10VideoEncoder(int width, int height, int bitsPerPixel, const std::wstring& path,
                      const AviWriterPlatform& platform = AviWriterSystem());
    // Finishes an open file.
    ~Avi10VideoEncoder() override;
    Avi10VideoEncoder(const Avi10VideoEncoder&) = delete;
    Avi10VideoEncoder& operator=(const Avi10VideoEncoder&) = delete;

    // Finishes an open file first. The period is not used: the file's is always 60 ms.
    bool Open(const std::wstring& path, int framePeriodMs) override;
    // Writes the DIB section's bits; the pixels are not used.
    bool AddFrame(const unsigned char* pixels, HBITMAP dibSection) override;
    // False when no file was open, a frame could not be written, or the file did not finish.
    bool Close() override;
    RecordingState State() const override { return m_state; }
    uint64_t PicturesInFile() const override { return m_pictures; }

    int width;
    int height;
    int bitsPerPixel;
    std::wstring path;
    AviWriter* writer = nullptr;  // null while no file is open

private:
    AviWriterPlatform m_platform;
    RecordingState m_state = RecordingState::Recording;
    uint64_t m_pictures = 0;  // kept past the close, which frees the writer
};
