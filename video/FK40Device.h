// The FK40 camera over its vendor library: a worker thread fetches raw frames, converts each into
// the back buffer and swaps it with the front buffer, which the UI thread copies.
#pragma once
#include <atomic>
#include <memory>
#include "framework/Sync.h"
#include "framework/Threads.h"
#include "video/VideoSource.h"

constexpr int kFK40Width = 202;
constexpr int kFK40Height = 202;
constexpr int kFK40FrameSize = kFK40Width * 3 * kFK40Height;  // 122412

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
    // A new heap copy (release with delete[]) of the front buffer's picture; null until the
    // worker has converted the first frame the library returned (the buffers' zeros are no picture).
    VideoFrame* CopyFrame();

    // Clears the running flag, calls LYC_Term (once) and waits up to 5000 ms for the worker to
    // leave its loop; false when it has not, and may still come back from the library.
    bool EndCapture();
    // Ends capture and deletes the device, unless the worker outlived the wait: then the worker
    // still owns the buffers, flags and lock, and the device stays allocated for the rest of the
    // process (which is ending).
    static void Release(FK40Device* device);

    static UINT CaptureThreadProc(LPVOID device);
    void SwapBuffers();

protected:
    // Frees the buffers; reached only from Release, once the worker has left its loop. A subclass
    // keeps its own destructor non-public too.
    virtual ~FK40Device();

private:
    static bool LoadSdk();
    void StartCapture();

    CCriticalSection m_frameLock;
    std::atomic<bool> m_running{false};
    unsigned char* m_raw;
    VideoFrame* m_bufferA;
    VideoFrame* m_bufferB;
    std::atomic<bool> m_front{false};  // false: A is the front buffer, B the one the worker writes
    bool m_delivered = false;          // the front buffer holds a converted frame; under the lock
    int m_width = kFK40Width;
    int m_height = kFK40Height;
    int m_bgrSize;
    int m_rawSize;
    int m_present = 0;
    CWinThread* m_worker = nullptr;
    bool m_ended = false;  // EndCapture has cleared the flag and called LYC_Term
};

// Owns a device and ends it through FK40Device::Release.
struct FK40DeviceRelease {
    void operator()(FK40Device* device) const { FK40Device::Release(device); }
};
using FK40DevicePtr = std::unique_ptr<FK40Device, FK40DeviceRelease>;
