// The FK40 camera as a video source: a private copy of the device's front buffer, refreshed at
// most once every 16 ms when the camera delivered a new frame. The camera has one fixed format and
// captures from the device's creation; while it has no picture (before its first frame, once its
// frames stopped) the source has no copy, so GetFrame gives null.
#pragma once
#include "video/VideoSource.h"

class FK40Device;

class FK40VideoSource : public VideoSource {
public:
    // Shares the provider's device; Close releases it (FK40Device::Release). Without a device,
    // a camera that failed: it never has a frame.
    explicit FK40VideoSource(FK40Device* device);
    ~FK40VideoSource() override;

    int Start() override { return 1; }
    int Stop() override { return 1; }
    VideoFrame* GetFrame(unsigned char* unused) override;
    int UpdateFrame() override;
    void Close() override;
    void Open(VideoResolution*) override {}

    // Null once Close has released the device.
    FK40Device* GetDevice() const { return m_device; }

protected:
    virtual DWORD TickCount() { return GetTickCount(); }

private:
    DWORD m_lastUpdate = 0;
    FK40Device* m_device;
    VideoFrame* m_frame = nullptr;
    unsigned m_seen = 0;  // number of the device's frame in m_frame; 0: none
};
