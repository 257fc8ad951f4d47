// DirectShow webcams: one WebCamVideoSource per video-input device, kept across enumerations.
#pragma once
#include <map>
#include <string>
#include "video/VideoSource.h"

class WebCamVideoSource;
struct IMoniker;

class WebCamVideoSourceProvider : public VideoSourceProvider {
public:
    // Initialises COM (apartment-threaded) on the calling thread.
    WebCamVideoSourceProvider();
    ~WebCamVideoSourceProvider() override;

    // Enumerates the attached devices. A device seen before keeps its source object (the one that
    // may be streaming); a vanished device leaves the list, but its object lives on.
    std::vector<VideoSource*>* GetVideoSources() override;
    std::vector<VideoSource*>* GetFailedVideoSources() override { return &m_none; }
    bool NeedsRefresh() override { return m_refresh; }

    // Drains the graph events of every source made so far; true when a device was lost. A lost
    // device's source lets go of its graph at once and is not handed out again
    // (WebCamVideoSource::DeviceLost): if the device comes back it gets a new one.
    bool PollGraphEvents() override;
    void MarkForRefresh() override { m_refresh = true; }

private:
    // Binds the device and collects its formats; sets initialized only when all of it worked.
    void SetUp(WebCamVideoSource* source, IMoniker* moniker);

    bool m_refresh = true;
    std::vector<VideoSource*> m_sources;
    std::vector<VideoSource*> m_none;
    std::vector<WebCamVideoSource*> m_all;                  // every source made, owned
    std::map<std::wstring, WebCamVideoSource*> m_byDevice;  // by moniker display name
    bool m_comInitialized = false;
};
