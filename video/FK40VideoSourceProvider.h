// The FK40 camera. Until the device layer is built this provider lists no source.
#pragma once
#include "video/VideoSource.h"

class FK40VideoSourceProvider : public VideoSourceProvider {
public:
    std::vector<VideoSource*>* GetVideoSources() override { return &m_sources; }
    std::vector<VideoSource*>* GetFailedVideoSources() override { return &m_none; }
    bool NeedsRefresh() override { return false; }

protected:
    std::vector<VideoSource*> m_sources;
    std::vector<VideoSource*> m_none;
};
