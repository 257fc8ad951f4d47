// The MPEG-2 writer of the "MPEG" and "WMV" formats: BGR pixels converted to YUV 4:2:0, encoded at a
// nominal 400 kbit/s, 30 frames/s, and appended as a bare video elementary stream framed by the
// sequence end code at both ends. Both formats write the same bytes. UI thread only, no locks.
//
// Buffers: the AVFrame lives for one AddFrame, its picture buffer until the codec has encoded it
// (then it returns to a pool); the packet, the codec context, the pool and the conversion context
// live from Open (the last two from the first frame) to Close or the destructor.
#pragma once
#include <cstdio>
#include <string>
#include "recording/VideoEncoder.h"

struct AVBufferPool;
struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

class LibAVVideoEncoder : public VideoEncoder {
public:
    // Opens nothing; bitsPerPixel 24 reads BGR24 pixels, any other value BGRA.
    LibAVVideoEncoder(const std::wstring& path, int width, int height, int bitsPerPixel, int formatIndex);
    // Finishes a file that is still open.
    ~LibAVVideoEncoder() override;
    LibAVVideoEncoder(const LibAVVideoEncoder&) = delete;
    LibAVVideoEncoder& operator=(const LibAVVideoEncoder&) = delete;

    // Opens the codec, then the file (so a codec failure leaves no file), and writes the first end
    // code. framePeriodMs is not used: the stream has its fixed rate. False when already open.
    bool Open(const std::wstring& path, int framePeriodMs) override;
    // Encodes one picture (dibSection is not used) and writes every packet the codec returns.
    // False, with nothing written, once a write or an encode has failed.
    bool AddFrame(const unsigned char* pixels, HBITMAP dibSection) override;
    // Drains the pictures the codec holds back, writes the closing end code and closes the file.
    // False when that failed or an earlier write had failed (the file is then incomplete).
    bool Close() override;
    // Failed from a failed Open, write or encode on; never Full (the stream has no size limit).
    RecordingState State() const override { return state; }

    AVCodecContext* codecContext = nullptr;
    const AVCodec* codec = nullptr;
    AVPacket* packet = nullptr;
    unsigned char endCode[4] = {0x00, 0x00, 0x01, 0xB7};
    FILE* file = nullptr;
    AVFrame* frame = nullptr;
    int frameIndex = 1;
    int width;
    int height;
    int bitsPerPixel;
    std::wstring path;
    int formatIndex;
    SwsContext* swsContext = nullptr;

private:
    // Fills the current frame's planes from pixels of bytesPerPixel bytes, row 0 on top.
    bool ConvertFrame(const unsigned char* pixels, int bytesPerPixel);
    // Hands the frame (null: the end of the stream) to the codec and writes what it returns, until
    // it wants more input (or, draining, has nothing left).
    bool EncodeAndWrite(const AVFrame* input);
    bool Write(const void* bytes, size_t size);
    void FreeCodec();

    RecordingState state = RecordingState::Recording;
    AVBufferPool* framePool = nullptr;  // picture buffers, handed back when the codec lets go of them
};
