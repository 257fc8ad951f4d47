// DirectShow webcams. Until the device layer is built this provider lists no source.
#pragma once
#include "video/VideoSource.h"

class WebCamVideoSourceProvider : public VideoSourceProvider {
public:
    WebCamVideoSourceProvider();
    std::vector<VideoSource*>* GetVideoSources() override { m_refresh = false; return &m_sources; }
    std::vector<VideoSource*>* GetFailedVideoSources() override { return &m_none; }
    bool NeedsRefresh() override { return m_refresh; }

    // Drains the graph events of every listed source; true when a device was lost.
    virtual bool PollGraphEvents() { return false; }
    void MarkForRefresh() { m_refresh = true; }
    void SetNotifyWindow(HWND window) { m_notifyWindow = window; }

protected:
    bool m_refresh = true;
    std::vector<VideoSource*> m_sources;
    std::vector<VideoSource*> m_none;
};
