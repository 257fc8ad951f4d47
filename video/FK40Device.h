// The FK40 camera over its vendor library: a worker thread fetches raw frames, converts each into
// the back buffer and swaps it with the front buffer, which the UI thread copies.
//
// The library is trusted with nothing but the buffer it is given:
// - A frame counts only when the call overwrote all of the marks placed in the raw buffer before it
//   (fresh random values at its start, middle, end and between). A call that left one delivered
//   nothing: it is not converted, and the worker pauses a frame period before the next call.
// - The camera has a picture only while frames keep coming: none before the first, none once no
//   frame came for kFK40StaleMs, none after the worker was retired.
// - LYC_Init and LYC_Term run on threads of their own, waited for a bounded time: a library that
//   never returns from them leaves the camera failed or unfinished, not the program held.
// - An exception raised inside LYC_GetIndex or LYC_GetFrame on the worker thread, and not handled
//   by the library, retires the worker (the thread ends there) and the camera has no picture from
//   then on. Caught through the process's unhandled-exception filter, so the library's own handlers
//   still come first; an exception on any other thread, or in the worker outside those calls, goes
//   on to the filter that was there before (the platform's default: the process ends).
#pragma once
#include <atomic>
#include <memory>
#include "framework/Sync.h"
#include "framework/Threads.h"
#include "video/VideoSource.h"

constexpr int kFK40Width = 202;
constexpr int kFK40Height = 202;
constexpr int kFK40FrameSize = kFK40Width * 3 * kFK40Height;  // 122412
// The camera's pace, and how long it may go without a frame before its picture is gone (60 frames).
constexpr DWORD kFK40FramePeriodMs = 33;
constexpr DWORD kFK40StaleMs = 2000;
// How long start-up waits for LYC_Init, and a close for LYC_Term and the worker together.
constexpr DWORD kFK40InitWaitMs = 10000;
constexpr DWORD kFK40EndWaitMs = 5000;

// Converts one raw frame into a 202 x 202 BGR24 picture turned by 180 degrees (the sensor's first
// row becomes the picture's bottom row). Integer only, no allocation: the worker runs it per frame.
void ConvertFK40Frame(const unsigned char* raw, VideoFrame* bgr);

// Created with new and ended only through Release (or an FK40DevicePtr): the destructor is not
// public, since a worker that outlives the wait still uses the whole object.
class FK40Device {
public:
    // Loads the library and, when it has every entry point, starts the camera and the worker.
    FK40Device();
    FK40Device(const FK40Device&) = delete;
    FK40Device& operator=(const FK40Device&) = delete;

    // 1 once the camera was started.
    int IsConnected() const { return m_present; }
    // LYC_Init did not return within kFK40InitWaitMs: the camera is a device that failed.
    bool InitTimedOut() const { return m_initTimedOut; }
    // A new heap copy (release with delete[]) of the front buffer's picture while the camera has a
    // picture (a frame delivered within the last kFK40StaleMs, the worker running), else null.
    // With `seen`, the number of the frame the caller holds (0: none): null also when that frame is
    // still the last; set to the number of the frame copied, or to 0 when the camera has no
    // picture, for the caller to let go of its copy.
    VideoFrame* CopyFrame(unsigned* seen = nullptr);

    // Clears the running flag, calls LYC_Term (once) and waits for it and for the worker to leave
    // its loop, kFK40EndWaitMs in all; false when the worker has not, and may still come back from
    // the library.
    bool EndCapture();
    // Ends capture and deletes the device, unless the worker outlived the wait: then the worker
    // still owns the buffers, flags and lock, and the device stays allocated for the rest of the
    // process (which is ending).
    static void Release(FK40Device* device);

    static UINT CaptureThreadProc(LPVOID device);
    void SwapBuffers();
    // Ends the worker thread from inside a library call that raised an exception; see above.
    [[noreturn]] void Retire(DWORD exceptionCode);

protected:
    // Frees the buffers; reached only from Release, once the worker has left its loop. A subclass
    // keeps its own destructor non-public too.
    virtual ~FK40Device();

private:
    static bool LoadSdk();
    void StartCapture();
    // Under the lock: whether the camera has a picture; when not, `seen` (if any) becomes 0.
    bool PictureIsLive(unsigned* seen) const;

    CCriticalSection m_frameLock;
    std::atomic<bool> m_running{false};
    unsigned char* m_raw;
    VideoFrame* m_bufferA;
    VideoFrame* m_bufferB;
    std::atomic<bool> m_front{false};  // false: A is the front buffer, B the one the worker writes
    // Under the lock: frames delivered so far (the front buffer holds the last, when any), when the
    // last came (tick count), and whether the worker was retired.
    unsigned m_delivered = 0;
    DWORD m_deliveredTick = 0;
    bool m_retired = false;
    int m_width = kFK40Width;
    int m_height = kFK40Height;
    int m_bgrSize;
    int m_rawSize;
    int m_present = 0;
    bool m_initTimedOut = false;
    CWinThread* m_worker = nullptr;
    bool m_ended = false;  // EndCapture has cleared the flag and called LYC_Term
};

// Owns a device and ends it through FK40Device::Release.
struct FK40DeviceRelease {
    void operator()(FK40Device* device) const { FK40Device::Release(device); }
};
using FK40DevicePtr = std::unique_ptr<FK40Device, FK40DeviceRelease>;
