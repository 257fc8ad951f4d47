#include "recording/LibAVVideoEncoder.h"
#include <system_error>
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
// 32 suits the SIMD loads; the bytes are the same for any alignment.
constexpr int kAlignment = 32;
}  // namespace

LibAVVideoEncoder::LibAVVideoEncoder(const std::wstring& path, int width, int height, int bitsPerPixel,
                                     int formatIndex, Threading threading)
    : width(width), height(height), bitsPerPixel(bitsPerPixel), path(path), formatIndex(formatIndex),
      m_threading(threading) {}

LibAVVideoEncoder::~LibAVVideoEncoder() {
    if (file) Close();
    FreeEntries();
    FreeCodec();
    sws_freeContext(swsContext);
}

bool LibAVVideoEncoder::Open(const std::wstring& outputPath, int /*framePeriodMs*/) {
    if (file || codecContext) return false;
    m_state = RecordingState::Failed;  // until the file is open

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

    // The queue's pictures, before the file, so that a failure leaves none. Counted buffers, which
    // the codec keeps by reference for the pictures it holds back (a plain one it would copy), from
    // a pool: a fresh block of this size costs page faults on every frame.
    m_framePool = av_buffer_pool_init(av_image_get_buffer_size(AV_PIX_FMT_YUV420P, width, height, kAlignment),
                                      nullptr);
    for (AVFrame*& entry : m_entries) {
        if (!(entry = av_frame_alloc())) {
            std::fputs("Could not allocate video frame\n", stderr);
            FreeEntries();
            FreeCodec();
            return false;
        }
        if (!PrepareEntry(entry)) {
            std::fputs("Could not allocate raw picture buffer\n", stderr);
            FreeEntries();
            FreeCodec();
            return false;
        }
    }

    file = _wfopen(outputPath.c_str(), L"wb");
    if (!file) {
        std::fputs("Could not open data\n", stderr);
        FreeEntries();
        FreeCodec();
        return false;
    }
    if (!Write(endCode, sizeof endCode)) {
        std::fclose(file);
        file = nullptr;
        FreeEntries();
        FreeCodec();
        return false;
    }
    frameIndex = 0;
    m_dropped = 0;
    m_picturesInFile = 0;
    m_freeCount = 0;
    for (AVFrame* entry : m_entries) m_free[m_freeCount++] = entry;
    m_queueHead = m_queueCount = 0;
    m_finish = false;
    m_state = RecordingState::Recording;

    m_useWorker = m_threading == Threading::Worker;
    if (m_useWorker) {
        try {
            m_worker = std::thread(&LibAVVideoEncoder::WorkerLoop, this);
        } catch (const std::system_error&) {
            m_useWorker = false;  // the same file, written on this thread
        }
    }
    return true;
}

bool LibAVVideoEncoder::PrepareEntry(AVFrame* entry) {
    entry->format = AV_PIX_FMT_YUV420P;
    entry->width = width;
    entry->height = height;
    entry->buf[0] = m_framePool ? av_buffer_pool_get(m_framePool) : nullptr;
    return entry->buf[0] && av_image_fill_arrays(entry->data, entry->linesize, entry->buf[0]->data,
                                                 AV_PIX_FMT_YUV420P, width, height, kAlignment) >= 0;
}

bool LibAVVideoEncoder::AddFrame(const unsigned char* pixels, HBITMAP /*dibSection*/) {
    if (!file || !codecContext || !pixels || m_state == RecordingState::Failed) return false;

    AVFrame* entry = TakeFreeEntry();
    if (!entry) {
        ++m_dropped;  // the worker is a whole queue behind
        return true;
    }
    if (!entry->buf[0] && !PrepareEntry(entry)) {
        std::fputs("Could not allocate raw picture buffer\n", stderr);
        av_frame_unref(entry);
        ReturnEntry(entry);
        m_state = RecordingState::Failed;
        return false;
    }
    frame = entry;
    bool ok = ConvertFrame(pixels, bitsPerPixel / 8);
    frame = nullptr;
    if (!ok) {
        ReturnEntry(entry);
        m_state = RecordingState::Failed;
        return false;
    }
    entry->pts = frameIndex++;

    if (m_useWorker) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_queue[(m_queueHead + m_queueCount++) % kQueueLength] = entry;
        }
        m_wake.notify_one();
        return true;
    }
    ok = EncodeAndWrite(entry);
    av_frame_unref(entry);  // the buffer goes with the codec's last reference
    ReturnEntry(entry);
    if (!ok) m_state = RecordingState::Failed;
    return ok;
}

AVFrame* LibAVVideoEncoder::TakeFreeEntry() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_freeCount > 0 ? m_free[--m_freeCount] : nullptr;
}

void LibAVVideoEncoder::ReturnEntry(AVFrame* entry) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_free[m_freeCount++] = entry;
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

void LibAVVideoEncoder::WorkerLoop() {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_queueCount > 0 || m_finish; });
        if (m_queueCount == 0) break;  // finishing, and the queue is empty
        AVFrame* entry = m_queue[m_queueHead];
        m_queueHead = (m_queueHead + 1) % kQueueLength;
        --m_queueCount;
        lock.unlock();
        // After a failure the entries still go back, unencoded, so that AddFrame never waits.
        if (m_state != RecordingState::Failed) {
            if (m_beforeEncode) m_beforeEncode();
            if (!EncodeAndWrite(entry)) m_state = RecordingState::Failed;
        }
        av_frame_unref(entry);
        lock.lock();
        m_free[m_freeCount++] = entry;
    }
    lock.unlock();
    // After a failure the codec's held-back pictures would follow a gap; Close writes only the end code.
    if (m_state != RecordingState::Failed && !EncodeAndWrite(nullptr)) m_state = RecordingState::Failed;
}

void LibAVVideoEncoder::StopWorker() {
    if (!m_worker.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_finish = true;
    }
    m_wake.notify_one();
    m_worker.join();
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
        // Flushed at once, so that a full disk shows at the picture it hit, and the count of
        // pictures in the file is true.
        const bool written = Write(packet->data, static_cast<size_t>(packet->size)) && std::fflush(file) == 0;
        av_packet_unref(packet);
        if (!written) return false;
        ++m_picturesInFile;
    }
}

bool LibAVVideoEncoder::Write(const void* bytes, size_t size) {
    return size == 0 || std::fwrite(bytes, 1, size, file) == size;
}

bool LibAVVideoEncoder::Close() {
    if (!file) {
        FreeEntries();
        FreeCodec();
        return false;
    }
    StopWorker();  // the queue is encoded and the codec drained
    bool ok = m_state != RecordingState::Failed;
    if (ok && !m_useWorker) ok = EncodeAndWrite(nullptr);
    ok = Write(endCode, sizeof endCode) && ok;
    // The buffered tail is written here. Its failure is taken from the flush: a C runtime may
    // report a failed flush from fclose as success (Wine's does).
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    file = nullptr;
    FreeEntries();
    FreeCodec();
    sws_freeContext(swsContext);
    swsContext = nullptr;
    if (!ok) m_state = RecordingState::Failed;
    return ok;
}

void LibAVVideoEncoder::FreeCodec() {
    avcodec_free_context(&codecContext);
    av_packet_free(&packet);
}

void LibAVVideoEncoder::FreeEntries() {
    for (AVFrame*& entry : m_entries) av_frame_free(&entry);
    m_freeCount = m_queueHead = m_queueCount = 0;
    av_buffer_pool_uninit(&m_framePool);  // freed once the codec has let go of its buffers too
}
