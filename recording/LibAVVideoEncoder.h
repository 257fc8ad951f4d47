// The MPEG-2 writer of the "MPEG" and "WMV" formats: BGR pixels converted to YUV 4:2:0, encoded at a
// nominal 400 kbit/s, 30 frames/s, and appended as a bare video elementary stream framed by the
// sequence end code at both ends. Both formats write the same bytes.
//
// Encoding a large picture takes longer than the UI thread can spare between paints, so each
// recording has one worker thread: AddFrame converts the picture into a free entry of a queue of
// kQueueLength pictures and returns; the worker encodes the entries in order and writes the packets.
// When no entry is free the picture is dropped (counted; its presentation index goes to the next
// picture, so the file is shorter, not gappy). Close lets the worker empty the queue and drain the
// codec, joins it and writes the closing end code. A failure on the worker shows at the next call.
// Threading::Synchronous does the same work on the calling thread, with the same bytes.
//
// Threads and locks:
// - Every public call, the destructor, the conversion context, `frame`, `frameIndex` and the drop
//   count belong to the UI thread.
// - From the worker's start in Open to its join in Close, the codec context, the packet and the file
//   belong to the worker; the UI thread does not touch them (their pointers do not change meanwhile).
// - m_lock guards the queue, the free list and m_finish; the worker sleeps on m_wake. The UI thread
//   never waits for the worker, except for the join in Close.
// - The state is atomic: either thread may set Failed.
//
// Buffers: an entry is free (the UI thread may fill it), queued, or with the worker. Its picture
// buffer comes from a pool; once the worker has handed it to the codec it drops the entry's
// reference (the codec keeps its own for the pictures it holds back, which go back to the pool when
// it lets go) and the UI thread takes a fresh one when it next fills the entry. The packet, the
// codec context, the entries and the pool live from Open to Close or the destructor, the conversion
// context from the first frame.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include "recording/VideoEncoder.h"

struct AVBufferPool;
struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

class LibAVVideoEncoder : public VideoEncoder {
public:
    // Where the pictures are encoded and written: on the recording's worker, or in AddFrame itself.
    enum class Threading { Worker, Synchronous };
    static constexpr int kQueueLength = 8;

    // Opens nothing; bitsPerPixel 24 reads BGR24 pixels, any other value BGRA.
    LibAVVideoEncoder(const std::wstring& path, int width, int height, int bitsPerPixel, int formatIndex,
                      Threading threading = Threading::Worker);
    // Finishes a file that is still open.
    ~LibAVVideoEncoder() override;
    LibAVVideoEncoder(const LibAVVideoEncoder&) = delete;
    LibAVVideoEncoder& operator=(const LibAVVideoEncoder&) = delete;

    // Opens the codec, then the file (so a codec failure leaves no file), writes the first end code
    // and starts the worker (when no thread can be started, this recording runs synchronously).
    // framePeriodMs is not used: the stream has its fixed rate. False when already open.
    bool Open(const std::wstring& path, int framePeriodMs) override;
    // Converts one picture (dibSection is not used) and queues it; true, with nothing queued, when
    // the queue is full (DroppedPictures counts it). False once a write or an encode has failed.
    bool AddFrame(const unsigned char* pixels, HBITMAP dibSection) override;
    // Encodes what is queued, drains the pictures the codec holds back, writes the closing end code
    // and closes the file. False when that failed or an earlier write had failed (the file is then
    // incomplete).
    bool Close() override;
    // Failed from a failed Open, conversion, write or encode on; never Full (the stream has no limit).
    RecordingState State() const override { return m_state.load(); }
    // Pictures AddFrame dropped for a full queue since Open.
    uint64_t DroppedPictures() const override { return m_dropped; }
    // Packets written and flushed to the system: each holds one picture.
    uint64_t PicturesInFile() const override { return m_picturesInFile.load(); }

    AVCodecContext* codecContext = nullptr;
    const AVCodec* codec = nullptr;
    AVPacket* packet = nullptr;
    unsigned char endCode[4] = {0x00, 0x00, 0x01, 0xB7};
    FILE* file = nullptr;
    AVFrame* frame = nullptr;  // the entry AddFrame is converting into
    int frameIndex = 1;
    int width;
    int height;
    int bitsPerPixel;
    std::wstring path;
    int formatIndex;
    SwsContext* swsContext = nullptr;

protected:
    // Called on the worker before it encodes each queued picture; set before Open. Tests hold the
    // worker here.
    std::function<void()> m_beforeEncode;

private:
    // Fills the current frame's planes from pixels of bytesPerPixel bytes, row 0 on top.
    bool ConvertFrame(const unsigned char* pixels, int bytesPerPixel);
    // Hands the frame (null: the end of the stream) to the codec and writes what it returns, until
    // it wants more input (or, draining, has nothing left).
    bool EncodeAndWrite(const AVFrame* input);
    bool Write(const void* bytes, size_t size);
    // Gives an entry its picture buffer from the pool.
    bool PrepareEntry(AVFrame* entry);
    AVFrame* TakeFreeEntry();
    void ReturnEntry(AVFrame* entry);
    void WorkerLoop();
    // Lets the worker finish the queue and the drain, and joins it.
    void StopWorker();
    void FreeCodec();
    void FreeEntries();

    const Threading m_threading;
    bool m_useWorker = false;  // this recording's worker runs
    std::atomic<RecordingState> m_state{RecordingState::Recording};
    uint64_t m_dropped = 0;
    std::atomic<uint64_t> m_picturesInFile{0};  // counted by whichever thread writes
    AVBufferPool* m_framePool = nullptr;
    AVFrame* m_entries[kQueueLength] = {};

    std::mutex m_lock;
    std::condition_variable m_wake;
    AVFrame* m_free[kQueueLength] = {};  // a stack
    int m_freeCount = 0;
    AVFrame* m_queue[kQueueLength] = {};  // a ring, oldest at m_queueHead
    int m_queueHead = 0;
    int m_queueCount = 0;
    bool m_finish = false;
    std::thread m_worker;
};
