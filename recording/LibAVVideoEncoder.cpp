#include "recording/LibAVVideoEncoder.h"
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace {
// Bicubic is what flags 0 selects anyway; naming it keeps the cache, which compares the flags the
// context stored (0 would build a new context every frame). Accurate rounding keeps the general
// path: without it BGR24 takes a shortcut that point-samples the chroma, BGRA rounds by the CPU's
// instruction set, and the bytes would differ between the two inputs and between machines.
constexpr int kConversionFlags = SWS_BICUBIC | SWS_ACCURATE_RND;
}  // namespace

LibAVVideoEncoder::LibAVVideoEncoder(const std::wstring& path, int width, int height, int bitsPerPixel,
                                     int formatIndex)
    : width(width), height(height), bitsPerPixel(bitsPerPixel), path(path), formatIndex(formatIndex) {}

LibAVVideoEncoder::~LibAVVideoEncoder() {
    if (file) Close();
    FreeCodec();
    sws_freeContext(swsContext);
    av_buffer_pool_uninit(&framePool);
}

bool LibAVVideoEncoder::Open(const std::wstring& outputPath, int /*framePeriodMs*/) {
    if (file || codecContext) return false;
    state = RecordingState::Failed;  // until the file is open

    // libavcodec is linked in, so only a build without the encoder lacks it.
    codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
    if (!codec) {
        std::fputs("Could not load the AV Codec DLL!\n", stdout);
        std::fflush(stdout);
        return false;
    }
    codecContext = avcodec_alloc_context3(codec);
    if (codecContext) {
        codecContext->bit_rate = 400000;
        codecContext->width = width;
        codecContext->height = height;
        codecContext->time_base = AVRational{1, 30};
        codecContext->framerate = AVRational{30, 1};
        codecContext->ticks_per_frame = 2;
        codecContext->gop_size = 100;
        codecContext->max_b_frames = 1;
        codecContext->pix_fmt = AV_PIX_FMT_YUV420P;
        // More threads would split pictures into slices by the machine's cores, changing the bytes.
        codecContext->thread_count = 1;
    }
    if (!codecContext || avcodec_open2(codecContext, codec, nullptr) < 0 || !(packet = av_packet_alloc())) {
        std::fputs("Could not open codec\n", stderr);
        FreeCodec();
        return false;
    }

    file = _wfopen(outputPath.c_str(), L"wb");
    if (!file) {
        std::fputs("Could not open data\n", stderr);
        FreeCodec();
        return false;
    }
    state = RecordingState::Recording;
    if (!Write(endCode, sizeof endCode)) {
        std::fclose(file);
        file = nullptr;
        FreeCodec();
        return false;
    }
    frameIndex = 0;
    return true;
}

bool LibAVVideoEncoder::AddFrame(const unsigned char* pixels, HBITMAP /*dibSection*/) {
    if (!file || !codecContext || !pixels || state == RecordingState::Failed) return false;

    frame = av_frame_alloc();
    if (!frame) {
        std::fputs("Could not allocate video frame\n", stderr);
        state = RecordingState::Failed;
        return false;
    }
    frame->format = codecContext->pix_fmt;
    frame->width = codecContext->width;
    frame->height = codecContext->height;
    const int bytesPerPixel = bitsPerPixel / 8;
    // A counted buffer, which the codec keeps by reference for the pictures it holds back (a plain one
    // it would copy), taken from a pool: a fresh block of this size costs page faults on every frame.
    // 32 suits the SIMD loads; the bytes are the same for any alignment.
    const AVPixelFormat format = codecContext->pix_fmt;
    if (!framePool) framePool = av_buffer_pool_init(av_image_get_buffer_size(format, width, height, 32), nullptr);
    frame->buf[0] = framePool ? av_buffer_pool_get(framePool) : nullptr;
    if (!frame->buf[0] ||
        av_image_fill_arrays(frame->data, frame->linesize, frame->buf[0]->data, format, width, height, 32) < 0) {
        std::fputs("Could not allocate raw picture buffer\n", stderr);
        av_frame_free(&frame);
        state = RecordingState::Failed;
        return false;
    }

    bool ok = ConvertFrame(pixels, bytesPerPixel);
    if (ok) {
        frame->pts = frameIndex;
        ok = EncodeAndWrite(frame);
        ++frameIndex;
    }
    av_frame_free(&frame);  // the buffer goes with the codec's last reference
    if (!ok) state = RecordingState::Failed;
    return ok;
}

bool LibAVVideoEncoder::ConvertFrame(const unsigned char* pixels, int bytesPerPixel) {
    const bool bgr24 = bytesPerPixel == 3;
    // The stride follows the format actually read, so an odd bit count cannot read past the pixels.
    const int stride = (bgr24 ? 3 : 4) * width;
    swsContext = sws_getCachedContext(swsContext, width, height, bgr24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGRA, width,
                                      height, AV_PIX_FMT_YUV420P, kConversionFlags, nullptr, nullptr, nullptr);
    if (!swsContext) return false;
    const uint8_t* const planes[4] = {pixels, nullptr, nullptr, nullptr};
    const int strides[4] = {stride, 0, 0, 0};
    return sws_scale(swsContext, planes, strides, 0, height, frame->data, frame->linesize) > 0;
}

bool LibAVVideoEncoder::EncodeAndWrite(const AVFrame* input) {
    if (avcodec_send_frame(codecContext, input) < 0) {
        std::fputs("Error encoding frame\n", stderr);
        return false;
    }
    for (;;) {
        const int received = avcodec_receive_packet(codecContext, packet);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return true;
        if (received < 0) {
            std::fputs("Error encoding frame\n", stderr);
            return false;
        }
        const bool written = Write(packet->data, static_cast<size_t>(packet->size));
        av_packet_unref(packet);
        if (!written) return false;
    }
}

bool LibAVVideoEncoder::Write(const void* bytes, size_t size) {
    if (size == 0 || std::fwrite(bytes, 1, size, file) == size) return true;
    state = RecordingState::Failed;
    return false;
}

bool LibAVVideoEncoder::Close() {
    if (!file) {
        FreeCodec();
        return false;
    }
    // After a failure the codec's held-back pictures would follow a gap; only the end code goes on.
    bool ok = state != RecordingState::Failed && EncodeAndWrite(nullptr);
    ok = Write(endCode, sizeof endCode) && ok;
    ok = std::fclose(file) == 0 && ok;  // the buffered tail is written here
    file = nullptr;
    FreeCodec();
    sws_freeContext(swsContext);
    swsContext = nullptr;
    av_buffer_pool_uninit(&framePool);
    if (!ok) state = RecordingState::Failed;
    return ok;
}

void LibAVVideoEncoder::FreeCodec() {
    avcodec_free_context(&codecContext);
    av_packet_free(&packet);
}
