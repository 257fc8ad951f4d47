// Stand-ins for the video layer in tests that drive windows over cameras without devices.
#pragma once
#include "video/VideoSource.h"
#include <string>
#include <utility>
#include <vector>

// A webcam of one 8x6 resolution that hands out `frame` (or no frame); Start, Stop and Open do nothing.
struct FakeCamera : VideoSource {
    static constexpr int kWidth = 8, kHeight = 6;
    explicit FakeCamera(const char* desc, bool init = true) {
        description = desc;
        name = "webcam";
        id = "webcam";
        initialized = init;
        resolutions.push_back(new VideoResolution{0, kWidth, kHeight, 24, "8x6"});
    }
    int Start() override { return 1; }
    int Stop() override { return 1; }
    VideoFrame* GetFrame(unsigned char*) override { return hasFrame ? frame : nullptr; }
    int UpdateFrame() override { return nextResult; }
    void Close() override { ++closes; }
    void Open(VideoResolution*) override {}
    unsigned char frame[kWidth * kHeight * 3] = {};
    bool hasFrame = true;
    int nextResult = 1;
    int closes = 0;
};

// Hands out the sources a test put in its lists; asks for a refresh only when the test sets
// `refresh`, until the next listing.
struct FakeProvider : VideoSourceProvider {
    std::vector<VideoSource*> list, failed;
    bool refresh = false;
    std::vector<VideoSource*>* GetVideoSources() override {
        refresh = false;
        return &list;
    }
    std::vector<VideoSource*>* GetFailedVideoSources() override { return &failed; }
    bool NeedsRefresh() override { return refresh; }
};

// A source that notes its calls as "<tag>.<call>" in a log shared by several sources, so that a
// test sees their order across sources.
class LoggingSource : public VideoSource {
protected:
    LoggingSource(std::string tag, std::vector<std::string>* log) : m_tag(std::move(tag)), m_log(log) {}
    void Note(const std::string& call) { m_log->push_back(m_tag + "." + call); }

private:
    std::string m_tag;
    std::vector<std::string>* m_log;
};
