// Online mode follows the companion library beside the program, and only there. The lines are
// text-mode output: CR LF on Windows.
#include <gtest/gtest.h>
#include "app/LumetraApp.h"
#include "tests/support/TestMain.h"
#include "tests/support/TestSupport.h"
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path selfPath() {
    wchar_t buf[MAX_PATH];
    ::GetModuleFileNameW(nullptr, buf, MAX_PATH);
    return buf;
}

// Runs a copy of this program from `dir` (in `cwd`) in detection mode.
ChildResult runDetect(const fs::path& dir, const fs::path& cwd) {
    fs::path exe = dir / "detect.exe";
    fs::copy_file(selfPath(), exe, fs::copy_options::overwrite_existing);
    ChildResult c = RunCaptured(L"\"" + exe.wstring() + L"\" --detect", cwd.c_str());
    EXPECT_TRUE(c.started);
    return c;
}

class CendraDetect : public ::testing::Test {
protected:
    fs::path root = fs::temp_directory_path() / ("cendra_detect_" + std::to_string(::GetCurrentProcessId()));
    fs::path appDir = root / "app", otherDir = root / "other";
    void SetUp() override {
        fs::create_directories(appDir);
        fs::create_directories(otherDir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    void placeLibrary(const fs::path& dir) { fs::copy_file(FromBuild(CENDRA_DLL_REL), dir / "Cendra.dll"); }
};

}  // namespace

TEST_F(CendraDetect, OfflineWithoutTheLibrary) {
    ChildResult c = runDetect(appDir, appDir);
    EXPECT_EQ(c.output, "Cendra not detected, using offline mode.\r\n");
    EXPECT_EQ(c.exitCode, 0u);
}

TEST_F(CendraDetect, OnlineWithTheLibraryBesideTheProgram) {
    placeLibrary(appDir);
    ChildResult c = runDetect(appDir, otherDir);
    EXPECT_EQ(c.output, "Cendra mode enabled.\r\n");
    EXPECT_EQ(c.exitCode, 1u);
}

TEST_F(CendraDetect, ALibraryInTheCurrentDirectoryIsIgnored) {
    placeLibrary(otherDir);
    ChildResult c = runDetect(appDir, otherDir);
    EXPECT_EQ(c.output, "Cendra not detected, using offline mode.\r\n");
}

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--detect") return DetectCendraLibrary() ? 1 : 0;
    ::testing::InitGoogleTest(&argc, argv);
    StartGoogleTestWatcher();
    return RUN_ALL_TESTS();
}
