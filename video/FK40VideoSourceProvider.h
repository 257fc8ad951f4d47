// The FK40 camera: one source when the camera started at construction, none otherwise; one failed
// source when its library did not answer the start in time.
#pragma once
#include "video/VideoSource.h"

class FK40Device;

class FK40VideoSourceProvider : public VideoSourceProvider {
public:
    // Creates the device, which loads the camera library and starts capture.
    FK40VideoSourceProvider();
    ~FK40VideoSourceProvider() override;
    FK40VideoSourceProvider(const FK40VideoSourceProvider&) = delete;
    FK40VideoSourceProvider& operator=(const FK40VideoSourceProvider&) = delete;

    std::vector<VideoSource*>* GetVideoSources() override;
    std::vector<VideoSource*>* GetFailedVideoSources() override { return &m_failed; }
    bool NeedsRefresh() override { return false; }

private:
    FK40Device* m_device;
    std::vector<VideoSource*> m_sources;  // built once, then kept for the run
    std::vector<VideoSource*> m_failed;   // with no device: it is only named to the operator
};
