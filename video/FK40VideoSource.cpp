#include "video/FK40VideoSource.h"
#include "video/FK40Device.h"

namespace {
constexpr DWORD kMinUpdateIntervalMs = 16;
}

FK40VideoSource::FK40VideoSource(FK40Device* device) : m_device(device) {
    name = "F40K";
    id = "F40K";
    description = "40K USB Video Device";
    auto* resolution = new VideoResolution;
    resolution->index = 0;
    resolution->width = kFK40Width;
    resolution->height = kFK40Height;
    resolution->bitsPerPixel = 24;
    resolution->label = "202x202";
    resolutions.push_back(resolution);
}

FK40VideoSource::~FK40VideoSource() { delete[] m_frame; }

VideoFrame* FK40VideoSource::GetFrame(unsigned char*) { return m_device ? m_frame : nullptr; }

int FK40VideoSource::UpdateFrame() {
    if (!m_device) return UpdateFrameNone;
    const DWORD now = TickCount();
    // Unsigned difference: the tick count's wrap after 49.7 days does no harm.
    if (now - m_lastUpdate < kMinUpdateIntervalMs) return UpdateFrameNone;
    m_lastUpdate = now;
    VideoFrame* copy = m_device->CopyFrame(&m_seen);
    if (!copy) {
        // Before the camera's first frame, and once its frames stopped, there is nothing to show:
        // the last picture is not kept standing in for one. Else no frame came since the last copy.
        if (m_seen == 0) {
            delete[] m_frame;
            m_frame = nullptr;
        }
        return UpdateFrameNone;
    }
    // The live view painted the previous copy and the recorder may still read it: it goes only now.
    delete[] m_frame;
    m_frame = copy;
    return UpdateFrameNew;
}

void FK40VideoSource::Close() {
    FK40Device::Release(m_device);
    m_device = nullptr;
}
