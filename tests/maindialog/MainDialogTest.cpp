// The main dialog in this process, on fake devices, with its clocks, profile folder and message
// boxes replaced: capture names and folders, the reference commands, the status and notice lines.
#include <gtest/gtest.h>
#include "recording/VideoRecorder.h"
#include "res/resource.h"
#include "standins/fk40/LycStandin.h"
#include "tests/maindialog/MainDialogFixture.h"
#include "tests/support/TestSupport.h"
#include "video/FK40Device.h"
#include "video/FK40VideoSource.h"
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

class MainDialog : public DialogTest<TestDlg> {
protected:
    std::wstring Images() const { return folder.path + L"\\Lumetra"; }
    const std::wstring& root = folder.path;
    FakeSource& source = devices.source;
};

TEST_F(MainDialog, StartsWithTheFoldersTheLiveSourceAndTheOfflineLayout) {
    EXPECT_EQ(Text(*dlg, IDC_IMAGES_FOLDER), Images());
    EXPECT_EQ(dlg->m_referenceFolder, Images() + L"\\ReferenceImages\\");
    EXPECT_EQ(dlg->m_metadataFolder, Images() + L"\\metadata\\");
    EXPECT_TRUE(Exists(dlg->m_referenceFolder));
    DWORD meta = GetFileAttributesW(dlg->m_metadataFolder.c_str());
    ASSERT_NE(meta, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(meta & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(dlg->m_videoDisplay.source, &source);
    EXPECT_EQ(dlg->m_videoDisplay.owner, dlg.get());
    EXPECT_TRUE(dlg->boxes.empty());
    for (int id : {IDC_LOGOUT, IDC_UPLOAD, IDC_EDIT_IMAGES, IDC_FACILITY, IDC_LOCATION, IDC_ENDOSCOPE_TYPE, IDC_SERIAL,
                   IDC_MODEL, IDC_OPERATOR, IDC_TEST_RESULT, IDC_COMMENTS, IDC_RECOMMENDED_ACTIONS, IDC_TEST_DATE,
                   IDC_TEST_TIME, IDC_TEST_DETAILS_LABEL})
        EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(dlg->m_hWnd, id))) << id;
    EXPECT_EQ(Text(*dlg, IDC_TEST_DATE), L"05/24/2021");
    EXPECT_EQ(Text(*dlg, IDC_TEST_TIME), L"14:07");
}

TEST_F(MainDialog, StillNamesCountUpPastTakenStemsAndKeepThePrefixSafe) {
    struct Case {
        const wchar_t* typed;
        const wchar_t* expected;
    };
    // Each capture happens within the same second, so taken names push the index up.
    dlg->GetDlgItem(IDC_FILE_PREFIX)->SetWindowText(L"SiteA");
    ASSERT_EQ(dlg->m_filePrefix, L"SiteA");
    ASSERT_TRUE(dlg->CaptureImage(FALSE));
    ASSERT_TRUE(dlg->CaptureImage(FALSE));
    std::ofstream(std::filesystem::path(dlg->m_metadataFolder + L"20210524140700_SiteA_2.meta")).put('x');
    ASSERT_TRUE(dlg->CaptureImage(FALSE));
    for (const wchar_t* name : {L"20210524140700_SiteA_0.bmp", L"20210524140700_SiteA_1.bmp", L"20210524140700_SiteA_3.bmp"})
        EXPECT_TRUE(Exists(Images() + L"\\" + name)) << name;
    EXPECT_FALSE(Exists(Images() + L"\\20210524140700_SiteA_2.bmp"));

    for (Case c : {Case{L"", L"20210524140700__0.bmp"}, Case{L"a\\b:c", L"20210524140700_a_b_c_0.bmp"}}) {
        dlg->GetDlgItem(IDC_FILE_PREFIX)->SetWindowText(c.typed);
        EXPECT_EQ(dlg->m_filePrefix, c.typed);
        EXPECT_TRUE(dlg->CaptureImage(FALSE));
        EXPECT_TRUE(Exists(Images() + L"\\" + c.expected)) << c.expected;
    }
    // 54-byte headers and 6 rows of 8 BGR pixels; offline, no metadata.
    EXPECT_EQ(std::filesystem::file_size(Images() + L"\\20210524140700__0.bmp"), 54u + kW * kH * 3);
    EXPECT_EQ(Files(dlg->m_metadataFolder).size(), 1u);  // only the planted one
    EXPECT_TRUE(dlg->m_metadataCache.empty());
    EXPECT_TRUE(dlg->boxes.empty());
}

TEST_F(MainDialog, AFolderAtADriveRootNamesItsFilesOnce) {
    // "C:\" + "\" + stem: the doubled separator names one file, and the taken check sees it.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring drive = std::wstring(temp).substr(0, 3);
    dlg->m_imagesFolder = drive;
    dlg->GetDlgItem(IDC_FILE_PREFIX)->SetWindowText(L"RootTest");
    ASSERT_TRUE(dlg->CaptureImage(FALSE));
    ASSERT_TRUE(dlg->CaptureImage(FALSE));
    for (const wchar_t* name : {L"20210524140700_RootTest_0.bmp", L"20210524140700_RootTest_1.bmp"}) {
        EXPECT_TRUE(Exists(drive + name)) << name;
        DeleteFileW((drive + name).c_str());
    }
}

TEST_F(MainDialog, CapturesWithoutAFolderOrAPaintedFrameFailWithTheBox) {
    struct Case {
        const char* name;
        bool emptyFolder;
        bool removeFolder;
        bool reference;
    };
    for (Case c : {Case{"empty images folder", true, false, false}, Case{"empty reference folder", true, false, true},
                   Case{"images folder cannot be made", false, true, false}}) {
        SCOPED_TRACE(c.name);
        dlg->boxes.clear();
        std::wstring keepImages = dlg->m_imagesFolder, keepReference = dlg->m_referenceFolder;
        if (c.emptyFolder) (c.reference ? dlg->m_referenceFolder : dlg->m_imagesFolder).clear();
        if (c.removeFolder) ASSERT_TRUE(ReplaceFolderByFile(Images()));
        EXPECT_FALSE(dlg->CaptureImage(c.reference));
        ASSERT_EQ(dlg->boxes.size(), 1u);
        EXPECT_EQ(dlg->boxes[0].text, L"Could not capture image. Please ensure write access to destination directory.");
        EXPECT_EQ(dlg->boxes[0].caption, L"Capture Error");
        EXPECT_EQ(dlg->boxes[0].type, UINT(MB_ICONERROR));
        dlg->m_imagesFolder = keepImages;
        dlg->m_referenceFolder = keepReference;
    }
    EXPECT_EQ(ReadBytes(Images()), "") << "the file in the folder's place changed";
}

TEST(MainDialogFresh, NoPaintedFrameIsACaptureFailure) {
    TempProfile profile(L"main_dialog_fresh");
    const std::wstring& root = profile.path;
    FakeSource source{"Dark"};
    source.hasFrame = false;
    auto* webcams = new FakeProvider;
    webcams->list.push_back(&source);
    CompositeVideoSourceProvider provider{webcams, new FakeProvider};
    {
        TestDlg dlg(root);
        dlg.m_provider = &provider;
        ASSERT_TRUE(dlg.Create(IDD_LUMETRA_DIALOG));
        dlg.m_videoDisplay.Invalidate(FALSE);
        dlg.m_videoDisplay.UpdateWindow();
        EXPECT_FALSE(dlg.CaptureImage(FALSE));
        EXPECT_EQ(dlg.boxes.size(), 1u);
        EXPECT_TRUE(Files(root + L"\\Lumetra").empty());
        dlg.DestroyWindow();
    }
}

// Until the live source paints a frame of its own there is no picture: a still or a recording
// fails as with no frame at all, and the live view is black, whichever way the old picture went.
TEST_F(MainDialog, NoPictureOfTheCurrentSourceMeansNoCaptureAndABlackView) {
    FakeSource dark{"Dark"};
    dark.hasFrame = false;
    // The camera through its stand-in library, whose frame call delivers nothing.
    SetDllDirectoryW(FromBuild(LYC_STANDIN_DIR_REL).c_str());
    SetEnvironmentVariableA(LYC_STANDIN_FPS, "0");
    std::unique_ptr<FK40VideoSource> camera;
    struct Case {
        const char* name;
        std::function<void()> act;
    };
    const Case cases[] = {
        {"switched to a camera that delivers nothing", [&] { dlg->m_videoDisplay.SetSource(&dark); }},
        {"another resolution, no frame yet",
         [&] {
             source.resolutions.push_back(new VideoResolution{1, 4, 2, 24, "4x2"});
             dlg->m_videoDisplay.SetResolution(source.resolutions[1]);
             source.hasFrame = false;
         }},
        {"the live camera lost",
         [&] {
             devices.webcams->list.clear();
             devices.webcams->refresh = true;
             source.hasFrame = false;  // as a lost webcam gives none
         }},
        {"switched to an FK40 that has delivered nothing yet",
         [&] {
             camera = std::make_unique<FK40VideoSource>(new FK40Device);
             ASSERT_TRUE(camera->GetDevice()->IsConnected());
             dlg->m_videoDisplay.SetSource(camera.get());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        dlg->ShowWindow(SW_SHOW);
        ASSERT_TRUE(dlg->m_videoDisplay.GetBitmap());
        c.act();
        Paint();
        Paint();
        EXPECT_EQ(dlg->m_videoDisplay.GetBitmap(), nullptr);
        EXPECT_TRUE(ShowsBlack(dlg->m_videoDisplay));

        // The button, the space bar and the reference capture come to the same capture.
        EXPECT_FALSE(dlg->CaptureImage(FALSE));
        EXPECT_FALSE(dlg->CaptureImage(TRUE));
        Click(IDC_CAPTURE_VIDEO);
        EXPECT_EQ(dlg->m_recorder, nullptr);
        ASSERT_EQ(dlg->boxes.size(), 3u);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(dlg->boxes[i].text, L"Could not capture image. Please ensure write access to destination directory.");
            EXPECT_EQ(dlg->boxes[i].caption, L"Capture Error");
        }
        EXPECT_EQ(dlg->boxes[2].text, L"Could not record video. Please ensure write access to destination directory.");
        EXPECT_TRUE(Files(Images()).empty());
        EXPECT_TRUE(Files(dlg->m_referenceFolder).empty());

        if (camera) camera->Close();
        source.hasFrame = true;
        if (source.resolutions.size() > 1) {
            delete source.resolutions.back();
            source.resolutions.pop_back();
        }
        devices.webcams->list = {&source};
    }
    SetEnvironmentVariableA(LYC_STANDIN_FPS, nullptr);
}

TEST_F(MainDialog, ReferenceCaptureIsRefusedForAnExcludedCamera) {
    dlg->m_exclusionList.push_back({"Cam One", "webcam"});
    Click(IDC_CAPTURE_REFERENCE);
    EXPECT_TRUE(Files(dlg->m_referenceFolder).empty());
    EXPECT_TRUE(dlg->boxes.empty());
    EXPECT_EQ(dlg->m_referenceDisplay.bitmap, nullptr);

    dlg->m_exclusionList.clear();
    Click(IDC_CAPTURE_REFERENCE);
    EXPECT_EQ(Files(dlg->m_referenceFolder).size(), 1u);
    EXPECT_TRUE(Files(Images(), L"*.bmp").empty());
    EXPECT_NE(dlg->m_referenceDisplay.bitmap, nullptr);
    EXPECT_EQ(dlg->m_referenceDisplay.width, kW);

    Click(IDC_CLEAR_REFERENCE);
    EXPECT_EQ(dlg->m_referenceDisplay.width, kW);
    EXPECT_EQ(dlg->m_referenceDisplay.height, kH);
}

TEST(Exclusions, MatchByDescriptionAndNameBytes) {
    FakeSource a{"Cam A"}, twin{"Cam A"}, other{"Cam A"}, lower{"cam A"}, accented{"Cam \xE9"};
    other.name = "F40K";
    std::vector<ExcludedCamera> list{{"Cam A", "webcam"}, {"Cam \xE9", "webcam"}};
    struct Case {
        const char* what;
        const std::vector<ExcludedCamera>& list;
        const VideoSource* source;
        bool excluded;
    };
    std::vector<ExcludedCamera> empty;
    for (Case c : {Case{"same values", list, &a, true}, Case{"new object, same values", list, &twin, true},
                   Case{"other name", list, &other, false}, Case{"case differs", list, &lower, false},
                   Case{"byte 0xE9", list, &accented, true}, Case{"empty list", empty, &a, false},
                   Case{"no source", list, nullptr, false}})
        EXPECT_EQ(IsExcluded(c.list, c.source), c.excluded) << c.what;
}

TEST_F(MainDialog, TheNoticeGoesAtTheFirstTimerMoreThanFiveSecondsOn) {
    struct Step {
        DWORD shownAt, timerAt;
        bool stays;
    };
    for (Step s : {Step{1000, 6000, true}, Step{1000, 6001, false}, Step{0xFFFFF000, 0xFFFFF000 + 5000, true},
                   Step{0xFFFFF000, 0x00000389, false}}) {
        dlg->tick = s.shownAt;
        dlg->ShowNotice(L"Uploading to cloud...");
        dlg->tick = s.timerAt;
        dlg->SendMessage(WM_TIMER, 2);
        EXPECT_EQ(Text(*dlg, IDC_NOTICE), s.stays ? L"Uploading to cloud..." : L"") << std::hex << s.timerAt;
        EXPECT_EQ(dlg->m_noticeShown, s.stays);
    }
    // A second notice restarts the count.
    dlg->tick = 1000;
    dlg->ShowNotice(L"first");
    dlg->tick = 4000;
    dlg->ShowNotice(L"second");
    dlg->tick = 8000;
    dlg->SendMessage(WM_TIMER, 3);
    EXPECT_EQ(Text(*dlg, IDC_NOTICE), L"second");
    dlg->tick = 9001;
    dlg->SendMessage(WM_TIMER, 3);
    EXPECT_EQ(Text(*dlg, IDC_NOTICE), L"");
}

TEST_F(MainDialog, TimerOneClearsOnlyTheCaptureNotice) {
    const std::wstring notice = L"Image Captured" + std::wstring(66, L' ');
    Click(IDC_CAPTURE_IMAGE);
    EXPECT_EQ(Text(*dlg, IDC_STATUS), notice);
    EXPECT_EQ(Files(Images(), L"*.bmp").size(), 1u);
    dlg->SendMessage(WM_TIMER, 1);
    EXPECT_EQ(Text(*dlg, IDC_STATUS), std::wstring(33, L' '));

    Click(IDC_CAPTURE_IMAGE);
    dlg->GetDlgItem(IDC_STATUS)->SetWindowText(L"a later text");
    dlg->SendMessage(WM_TIMER, 1);
    EXPECT_EQ(Text(*dlg, IDC_STATUS), L"a later text");

    // A failed still leaves spaces, not the notice.
    ASSERT_TRUE(ReplaceFolderByFile(Images()));
    Click(IDC_CAPTURE_IMAGE);
    EXPECT_EQ(Text(*dlg, IDC_STATUS), std::wstring(66, L' '));
    EXPECT_EQ(dlg->boxes.size(), 1u);
}

TEST_F(MainDialog, ASourceAskingForACaptureGetsOneStillPerPaint) {
    source.nextResult = 10;
    Paint();
    source.nextResult = 1;
    Paint();
    EXPECT_EQ(Files(Images(), L"*.bmp").size(), 1u);
}

TEST(MainDialogDevices, FailedDevicesAreNamedOnLinesOfTheirOwn) {
    TempProfile profile(L"main_dialog_dev");
    const std::wstring& root = profile.path;
    FakeSource good{"Good"}, bad{"Cam\xE9ra", false}, worse{"Other", false};
    auto* webcams = new FakeProvider;
    webcams->list = {&bad, &good, &worse};
    CompositeVideoSourceProvider provider{webcams, new FakeProvider};
    {
        TestDlg dlg(root);
        dlg.m_provider = &provider;
        ASSERT_TRUE(dlg.Create(IDD_LUMETRA_DIALOG));
        EXPECT_EQ(dlg.m_videoDisplay.source, &good);
        ASSERT_EQ(dlg.boxes.size(), 1u);
        EXPECT_EQ(dlg.boxes[0].caption, L"Device Error");
        EXPECT_EQ(dlg.boxes[0].type, UINT(MB_ICONWARNING));
        EXPECT_EQ(dlg.boxes[0].text, L"Some devices couldn't be initialized: \r\n\r\nCam\u00E9ra\r\nOther\r\n\r\n"
                                     L"Check that the drivers are installed and the device(s) aren't in use.");
        dlg.DestroyWindow();
    }
}

// The other copy of the program takes a name between this one's check and its create; and, where
// this capture deletes a name it created, right after that delete. A name is deleted once, while
// it is still this capture's own: the other's files survive.
TEST(CaptureRace, ANameTakenBetweenTheCheckAndTheCreatePassesToTheNextIndex) {
    enum Kind { Still, Reference, Video };
    struct Case {
        const char* name;
        bool online;
        Kind kind;
        int format;
        const wchar_t* taken;    // below the images folder
        const wchar_t* written;  // the capture's file, below the images folder; none: it fails
        const wchar_t* freed;    // deleted by this capture, then taken by the other; none: nothing deleted
    };
    const Case cases[] = {
        {"still", false, Still, 0, L"20210524140700_SiteA_0.bmp", L"20210524140700_SiteA_1.bmp", nullptr},
        {"reference", false, Reference, 0, L"ReferenceImages\\20210524140700_SiteA_0.bmp",
         L"ReferenceImages\\20210524140700_SiteA_1.bmp", nullptr},
        // The other copy's reference still has the same stem: its .meta is in the same folder. The
        // .bmp this one created first for that stem is let go.
        {"online still, the stem's .meta taken", true, Still, 0, L"metadata\\20210524140700_SiteA_0.meta",
         L"20210524140700_SiteA_1.bmp", L"20210524140700_SiteA_0.bmp"},
        {"AVI recording", false, Video, 0, L"20210524140700_SiteA_0.avi", L"20210524140700_SiteA_1.avi", nullptr},
        {"MPEG-2 recording", false, Video, 1, L"20210524140700_SiteA_0.mpg", L"20210524140700_SiteA_1.mpg",
         nullptr},
        {"a recording that cannot start", false, Video, -1, L"20210524140700_SiteA_0.avi", nullptr,
         L"20210524140700_SiteA_1.avi"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempProfile profile(L"capture_race");
        const std::wstring images = profile.path + L"\\Lumetra\\";
        FakeDevices devices;
        RacedDlg dlg(profile.path, c.online);
        dlg.now = LocalTime(2021, 5, 24, 14, 7, 0);
        dlg.m_provider = &devices.provider;
        ASSERT_TRUE(dlg.Create(IDD_LUMETRA_DIALOG));
        dlg.m_videoDisplay.UpdateWindow();
        dlg.GetDlgItem(IDC_FILE_PREFIX)->SetWindowText(L"SiteA");
        dlg.m_videoDisplay.videoFormat = c.format < 0 ? 0 : c.format;
        dlg.encoderCannotOpen = c.format < 0;
        dlg.taken = images + c.taken;
        if (c.freed) dlg.freed = images + c.freed;

        if (c.kind == Video) {
            dlg.OnCaptureVideoMode();
            for (int i = 0; i < 3; ++i) {
                Sleep(40);
                dlg.m_videoDisplay.Invalidate(FALSE);
                dlg.m_videoDisplay.UpdateWindow();
            }
            if (c.written) dlg.OnCaptureVideoMode();
        } else {
            EXPECT_TRUE(dlg.CaptureImage(c.kind == Reference));
        }

        EXPECT_TRUE(dlg.taken.empty()) << "the name was never checked";
        EXPECT_EQ(ReadBytes(images + c.taken), dlg.othersBytes) << "the other program's file changed";
        EXPECT_EQ(dlg.deletes, c.freed ? 1 : 0);
        if (c.freed) {
            EXPECT_TRUE(dlg.freed.empty()) << "the name was not free right after the delete";
            EXPECT_EQ(ReadBytes(images + c.freed), dlg.othersBytes) << "the other program's file is gone or changed";
        }
        if (c.written) {
            EXPECT_GT(ReadBytes(images + c.written).size(), 54u);
            EXPECT_TRUE(dlg.boxes.empty());
        } else {
            EXPECT_EQ(dlg.boxes.size(), 1u);
        }
        // Nothing of this capture under the other's stem; online the written still has its details.
        const size_t ownFiles = !c.written ? 0 : c.online ? 2 : 1;
        size_t files = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(images)) files += e.is_regular_file();
        EXPECT_EQ(files, ownFiles + (c.freed ? 2 : 1));
        if (c.online) {
            EXPECT_TRUE(Exists(images + L"metadata\\20210524140700_SiteA_1.meta"));
            EXPECT_EQ(dlg.m_metadataCache.count(dlg.m_imagesFolder + L"\\" + c.written), 1u);
        }
        dlg.DestroyWindow();
    }
}

}  // namespace
