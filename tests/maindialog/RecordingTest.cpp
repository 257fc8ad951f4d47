// The capture buttons and the space bar in video mode: the state table, the files of each format,
// and recordings that end by themselves.
#include <gtest/gtest.h>
#include "recording/VideoRecorder.h"
#include "res/resource.h"
#include "tests/maindialog/MainDialogFixture.h"
#include <filesystem>
#include <functional>

namespace {

// How the fake encoders of a dialog behave, and what they were asked; outlives them.
struct EncoderScript {
    int limit = -1;  // frames until the file is full
    bool framesFail = false, closeFails = false;
    int frames = 0, closes = 0;
};

struct CountingEncoder : VideoEncoder {
    explicit CountingEncoder(EncoderScript* script) : script(script) {}
    EncoderScript* script;
    RecordingState state = RecordingState::Recording;
    bool Open(const std::wstring&, int) override { return true; }
    bool AddFrame(const unsigned char*, HBITMAP) override {
        if (script->framesFail || script->frames == script->limit) {
            state = script->framesFail ? RecordingState::Failed : RecordingState::Full;
            return false;
        }
        ++script->frames;
        return true;
    }
    bool Close() override { return ++script->closes, !script->closeFails; }
    RecordingState State() const override { return state; }
    uint64_t PicturesInFile() const override { return static_cast<uint64_t>(script->frames); }
};

class RecordingDlg : public TestDlg {
public:
    using TestDlg::TestDlg;
    using CLumetraDlg::DoCaptureAction;
    using CLumetraDlg::OnLogout;
    bool fakeEncoder = false;
    EncoderScript script;
    std::vector<std::wstring> paths;
    std::function<void()> onBox;  // while a box is up
    std::vector<int> exits;       // the process would have ended with these codes

protected:
    int ShowMessage(const wchar_t* text, const wchar_t* caption, UINT type) override {
        if (onBox) onBox();
        return TestDlg::ShowMessage(text, caption, type);
    }
    void EndProcess(int exitCode) override { exits.push_back(exitCode); }
    CVideoRecorder* NewRecorder(const std::wstring& path, int w, int h, int bits, int format) override {
        paths.push_back(path);
        if (!fakeEncoder) return CLumetraDlg::NewRecorder(path, w, h, bits, format);
        return new CVideoRecorder(new CountingEncoder(&script), path, w, h, bits, format);
    }
};

int Weight(CWnd* button) {
    LOGFONTW lf{};
    HFONT font = reinterpret_cast<HFONT>(button->SendMessage(WM_GETFONT));
    ::GetObjectW(font, sizeof lf, &lf);
    return lf.lfWeight;
}

class Recording : public DialogTest<RecordingDlg> {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        dlg->GetDlgItem(IDC_FILE_PREFIX)->SetWindowText(L"SiteA");
    }

    // In a fresh dialog: a recording, one frame fed, to a file that cannot be finished.
    void StartARecordingThatCannotBeFinished() {
        TearDown();
        SetUp();
        dlg->fakeEncoder = true;
        dlg->script.closeFails = true;
        Click(IDC_CAPTURE_VIDEO);
        ASSERT_NE(dlg->m_recorder, nullptr);
        Sleep(40);
        Paint();
    }

    struct State {
        int mode;
        bool recording;
        bool imageEnabled;
        const wchar_t* videoCaption;
        bool red;
        int videoWeight;  // 0: not checked
    };
    void Expect(const State& s, const char* step) {
        SCOPED_TRACE(step);
        EXPECT_EQ(dlg->m_captureMode, s.mode);
        EXPECT_EQ(dlg->m_recorder != nullptr, s.recording);
        EXPECT_EQ(::IsWindowEnabled(::GetDlgItem(dlg->m_hWnd, IDC_CAPTURE_IMAGE)) != 0, s.imageEnabled);
        EXPECT_EQ(Text(*dlg, IDC_CAPTURE_VIDEO), s.videoCaption);
        EXPECT_EQ(dlg->m_captureVideoButton.backgroundColor == RGB(255, 0, 0), s.red);
        if (s.red) {
            EXPECT_EQ(dlg->m_captureVideoButton.textColor, RGB(1, 1, 1));
        }
        if (s.videoWeight) {
            EXPECT_EQ(Weight(dlg->GetDlgItem(IDC_CAPTURE_VIDEO)), s.videoWeight);
        }
        if (s.recording && s.mode == 1) {
            EXPECT_EQ(Text(*dlg, IDC_STATUS), L"      Recording...     ");
        }
    }

};

TEST_F(Recording, ButtonsAndSpaceFollowTheStateTable) {
    dlg->fakeEncoder = true;
    const State stillIdle{0, false, true, L"Capture Video", false, 0};
    const State videoByButton{1, true, false, L"Stop Capture", true, FW_BOLD};
    const State videoIdle{1, false, true, L"Capture Video", false, FW_NORMAL};
    const State videoBySpace{1, true, true, L"Stop Capture", true, FW_NORMAL};
    const State stillRecording{0, true, true, L"Stop Capture", true, FW_NORMAL};
    Expect(stillIdle, "start");
    Click(IDC_CAPTURE_VIDEO);
    Expect(videoByButton, "Video");
    Click(IDC_CAPTURE_VIDEO);
    Expect(videoIdle, "Video, Video");
    EXPECT_EQ(Text(*dlg, IDC_STATUS), std::wstring(66, L' '));
    Click(IDC_CAPTURE_VIDEO);
    dlg->DoCaptureAction();
    Expect(videoIdle, "Video, space");
    dlg->DoCaptureAction();
    Expect(videoBySpace, "space from video idle");
    Click(IDC_CAPTURE_IMAGE);
    Expect(stillRecording, "Capture Image while recording");
    EXPECT_EQ(Files(dlg->m_imagesFolder, L"*.bmp").size(), 1u);
    dlg->DoCaptureAction();
    Expect(stillRecording, "space in still mode takes a still");
    Click(IDC_CAPTURE_VIDEO);
    Expect(videoIdle, "Video stops it");
    EXPECT_EQ(dlg->paths.size(), 3u);
}

TEST_F(Recording, EachFormatWritesItsFile) {
    struct Case {
        int format;
        const wchar_t* name;
        bool doubled;
    };
    for (Case c : {Case{0, L"20210524140700_SiteA_0.avi", false}, Case{1, L"20210524140700_SiteA_0.mpg", true},
                   Case{2, L"20210524140700_SiteA_0.wmv", true}, Case{7, L"20210524140700_SiteA_1.avi", false}}) {
        SCOPED_TRACE(c.format);
        dlg->m_videoDisplay.videoFormat = c.format;
        Click(IDC_CAPTURE_VIDEO);
        ASSERT_NE(dlg->m_recorder, nullptr);
        EXPECT_EQ(dlg->m_videoDisplay.doubleFrames, c.doubled);
        for (int i = 0; i < 3; ++i) {
            Sleep(40);
            Paint();
        }
        Click(IDC_CAPTURE_VIDEO);
        EXPECT_EQ(dlg->m_recorder, nullptr);
        std::wstring path = dlg->m_imagesFolder + L"\\" + c.name;
        EXPECT_TRUE(Exists(path)) << testing::PrintToString(path);
        EXPECT_GT(std::filesystem::file_size(path), c.format == 1 || c.format == 2 ? 8u : 0u);
    }
    EXPECT_TRUE(dlg->boxes.empty());
}

// A recording is of one camera: it ends, its file complete and with no box, when the live view
// leaves that camera or the camera is lost; a device lost elsewhere leaves it running.
TEST_F(Recording, ChangingOrLosingTheSourceFinishesTheRecording) {
    FakeSource other("Cam Two");
    struct Case {
        const char* name;
        std::function<void()> act;
        bool ends;
        VideoSource* live;  // afterwards
    };
    const Case cases[] = {
        {"source change", [&] { dlg->m_videoDisplay.SetSource(&other); }, true, &other},
        {"the live camera lost",
         [&] {
             devices.webcams->list.clear();
             devices.webcams->refresh = true;
             Paint();
         },
         true, &devices.source},
        {"another camera lost",
         [&] {
             devices.webcams->list = {&other, &devices.source};
             devices.webcams->refresh = true;
             Paint();
         },
         false, &devices.source},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        dlg->fakeEncoder = true;
        Click(IDC_CAPTURE_VIDEO);
        ASSERT_NE(dlg->m_recorder, nullptr);
        c.act();
        Pump();
        EXPECT_EQ(dlg->m_recorder == nullptr, c.ends);
        EXPECT_EQ(dlg->script.closes, c.ends ? 1 : 0);
        EXPECT_EQ(Text(*dlg, IDC_CAPTURE_VIDEO), c.ends ? L"Capture Video" : L"Stop Capture");
        EXPECT_EQ(dlg->m_videoDisplay.source, c.live);
        EXPECT_TRUE(dlg->boxes.empty());
        if (dlg->m_recorder) Click(IDC_CAPTURE_VIDEO);
        dlg->m_videoDisplay.SetSource(&devices.source);
        devices.webcams->list = {&devices.source};
    }
}

// Every way a recording ends tells the operator when its file could not be finished, once, after
// the controls went back to idle.
TEST_F(Recording, AFileThatCannotBeFinishedIsReportedOnceWhicheverWayItEnds) {
    FakeSource other("Cam Two");
    struct Case {
        const char* name;
        std::function<void()> end;
    };
    const Case cases[] = {
        {"Capture Video", [&] { Click(IDC_CAPTURE_VIDEO); }},
        {"space bar", [&] { dlg->DoCaptureAction(); }},
        {"source change", [&] { dlg->m_videoDisplay.SetSource(&other); }},
        {"device list refreshed while painting",
         [&] {
             devices.webcams->list = {&other};
             devices.webcams->refresh = true;
             Paint();
         }},
        {"the live camera lost",
         [&] {
             devices.webcams->list.clear();
             devices.webcams->refresh = true;
             Paint();
         }},
        {"log-out", [&] { dlg->OnLogout(); }},
        {"close", [&] { dlg->CloseDevices(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(StartARecordingThatCannotBeFinished());
        c.end();
        Pump();
        EXPECT_EQ(dlg->m_recorder, nullptr);
        EXPECT_EQ(dlg->script.closes, 1);
        ExpectOneRecordingErrorBox(dlg->boxes);
        EXPECT_EQ(Text(*dlg, IDC_CAPTURE_VIDEO), L"Capture Video");
        EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(dlg->m_hWnd, IDC_CAPTURE_IMAGE)));
        EXPECT_EQ(Text(*dlg, IDC_STATUS), std::wstring(66, L' '));
        dlg->m_videoDisplay.SetSource(&devices.source);
        devices.webcams->list = {&devices.source};
    }
}

// At a close or a session end the process may end while the box of a file that could not be
// finished is up: every camera is let go before it shows, and a close that arrives meanwhile (the
// box runs the dialog's messages) lets go of nothing twice and ends the process.
TEST_F(Recording, AtACloseOrASessionEndTheCamerasAreLetGoBeforeTheBox) {
    struct Case {
        const char* name;
        UINT message;
        WPARAM w;
    } const cases[] = {{"close", WM_CLOSE, 0}, {"session end", WM_ENDSESSION, TRUE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(StartARecordingThatCannotBeFinished());
        int closedAtBox = -1, closedAtTheEnd = -1;
        dlg->onBox = [&] {
            if (closedAtBox >= 0) return;  // a second box: counted below
            closedAtBox = devices.source.closes;
            dlg->PostMessage(WM_CLOSE);
            Pump();  // as the box's own message loop does
            ASSERT_EQ(dlg->exits, std::vector<int>{0}) << "the close while the box was up did not end the process";
            closedAtTheEnd = devices.source.closes;
        };
        dlg->SendMessage(c.message, c.w, 0);
        Pump();
        EXPECT_EQ(closedAtBox, 1) << "the box came before the camera was let go";
        EXPECT_EQ(closedAtTheEnd, 1) << "the process ended before the camera was let go";
        EXPECT_EQ(devices.source.closes, 1);
        EXPECT_EQ(dlg->script.closes, 1);
        ExpectOneRecordingErrorBox(dlg->boxes);
        for (int code : dlg->exits) EXPECT_EQ(code, 0);
        dlg->onBox = nullptr;
        devices.source.closes = 0;
    }
}

// Once the close steps have let go of the cameras, a device-list refresh that comes while the box
// is up (the box runs the dialog's messages) opens none of them again.
TEST_F(Recording, AfterTheCloseStepsARefreshOpensNoCamera) {
    struct Counting : FakeSource {
        using FakeSource::FakeSource;
        int opens = 0, starts = 0;
        void Open(VideoResolution*) override { ++opens; }
        int Start() override { return ++starts, 1; }
    } other("Cam Two");
    ASSERT_NO_FATAL_FAILURE(StartARecordingThatCannotBeFinished());
    dlg->onBox = [&] {
        devices.webcams->list = {&other};  // the live camera unplugged, another one there
        devices.webcams->refresh = true;
        Paint();
        Paint();
    };
    dlg->CloseDevices();
    ExpectOneRecordingErrorBox(dlg->boxes);
    EXPECT_EQ(other.opens, 0);
    EXPECT_EQ(other.starts, 0);
    EXPECT_EQ(dlg->m_videoDisplay.source, nullptr);
    EXPECT_EQ(dlg->m_videoDisplay.GetBitmap(), nullptr);
    devices.webcams->list = {&devices.source};
}

// A refused frame has told the operator already; the failed finish that follows adds no box, whether
// the dialog ends the recording on the live view's word or the operator stops it first.
TEST_F(Recording, AFailureShownForARefusedFrameIsNotShownAgainAtTheStop) {
    for (bool operatorFirst : {false, true}) {
        SCOPED_TRACE(operatorFirst ? "operator stops first" : "ended on the live view's word");
        TearDown();
        SetUp();
        dlg->fakeEncoder = true;
        dlg->script.framesFail = dlg->script.closeFails = true;
        Click(IDC_CAPTURE_VIDEO);
        Sleep(40);
        Paint();
        if (operatorFirst) Click(IDC_CAPTURE_VIDEO);
        Pump();
        EXPECT_EQ(dlg->m_recorder, nullptr);
        EXPECT_EQ(dlg->script.closes, 1);
        ExpectOneRecordingErrorBox(dlg->boxes);
    }
}

TEST_F(Recording, AFullFileEndsTheRecordingWithItsBox) {
    dlg->fakeEncoder = true;
    dlg->script.limit = 1;
    Click(IDC_CAPTURE_VIDEO);
    for (int i = 0; i < 4 && dlg->m_recorder; ++i) {
        Sleep(70);
        Paint();
        Pump();
    }
    EXPECT_EQ(dlg->m_recorder, nullptr);
    ASSERT_EQ(dlg->boxes.size(), 1u);
    EXPECT_EQ(dlg->boxes[0].caption, L"Recording Stopped");
    EXPECT_EQ(dlg->boxes[0].text, L"The recording was stopped because the video file reached its size limit.");
    EXPECT_EQ(dlg->boxes[0].type, UINT(MB_ICONWARNING));
    EXPECT_EQ(Text(*dlg, IDC_CAPTURE_VIDEO), L"Capture Video");
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(dlg->m_hWnd, IDC_CAPTURE_IMAGE)));
}

TEST_F(Recording, AStartThatCannotWriteLeavesNoFileAndSaysSo) {
    ASSERT_TRUE(ReplaceFolderByFile(dlg->m_imagesFolder));
    Click(IDC_CAPTURE_VIDEO);
    EXPECT_EQ(dlg->m_recorder, nullptr);
    ASSERT_EQ(dlg->boxes.size(), 1u);
    EXPECT_EQ(dlg->boxes[0].caption, L"Capture Error");
    EXPECT_EQ(dlg->boxes[0].text, L"Could not record video. Please ensure write access to destination directory.");
    EXPECT_EQ(Text(*dlg, IDC_CAPTURE_VIDEO), L"Capture Video");
    EXPECT_EQ(ReadBytes(dlg->m_imagesFolder), "") << "the file in the folder's place changed";
}

}  // namespace
