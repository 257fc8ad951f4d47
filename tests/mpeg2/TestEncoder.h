// The MPEG-2 writer as the tests drive it, its worker watched through the hook it calls before each
// picture. Paced (the default with a worker), AddFrame first waits until the worker is close enough
// behind that a queue entry is free, so nothing is dropped and two runs' bytes can be compared.
// Hold() stops the worker before its next picture until Release().
#pragma once
#include <windows.h>
#include <atomic>
#include <memory>
#include "recording/LibAVVideoEncoder.h"

class TestEncoder : public LibAVVideoEncoder {
public:
    TestEncoder(const std::wstring& path, int width, int height, int bitsPerPixel = 24, int formatIndex = 1,
                Threading threading = Threading::Worker)
        : LibAVVideoEncoder(path, width, height, bitsPerPixel, formatIndex, threading),
          paced(threading == Threading::Worker), m_shared(std::make_shared<Shared>()) {
        // The hook keeps its own share: the base's destructor may still run the worker after ours.
        m_beforeEncode = [shared = m_shared] {
            ++shared->begun;
            WaitForSingleObject(shared->gate, 10000);  // a test that fails while holding cannot hang
        };
    }

    bool AddFrame(const unsigned char* pixels, HBITMAP dib) override {
        // Entries in use are at most accepted - (begun - 1), so this leaves three free.
        if (paced) WaitUntilBegun(accepted - 4);
        const uint64_t dropped = DroppedPictures();
        const bool ok = LibAVVideoEncoder::AddFrame(pixels, dib);
        lastDropped = DroppedPictures() != dropped;
        if (ok && !lastDropped) ++accepted;
        return ok;
    }

    // Waits, for 10 s at most, until the worker has begun `pictures` pictures or the recording failed.
    bool WaitUntilBegun(int pictures) const {
        for (int ms = 0; m_shared->begun < pictures && State() == RecordingState::Recording && ms < 10000; ++ms)
            Sleep(1);
        return m_shared->begun >= pictures;
    }
    int Begun() const { return m_shared->begun; }
    void Hold() { ResetEvent(m_shared->gate); }
    void Release() { SetEvent(m_shared->gate); }

    bool paced;
    int accepted = 0;          // pictures AddFrame took into the queue
    bool lastDropped = false;  // the last AddFrame dropped its picture

private:
    struct Shared {
        HANDLE gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        std::atomic<int> begun{0};
        ~Shared() { CloseHandle(gate); }
    };
    std::shared_ptr<Shared> m_shared;
};
