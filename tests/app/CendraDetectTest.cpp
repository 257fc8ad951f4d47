// Online mode follows the companion library beside the program, and only there. The lines are
// text-mode output: CR LF on Windows.
#include <gtest/gtest.h>
#include "app/LumetraApp.h"
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

// A Unix path of the build as Wine sees it (drive Z: is the root).
std::wstring winePath(const char* unix) {
    std::wstring w = L"Z:";
    for (const char* p = unix; *p; ++p) w += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return w;
}

fs::path selfPath() {
    wchar_t buf[MAX_PATH];
    ::GetModuleFileNameW(nullptr, buf, MAX_PATH);
    return buf;
}

struct Child {
    DWORD exitCode;
    std::string out;
};

// Runs a copy of this program from `dir` (in `cwd`) in detection mode and collects its stdout.
Child runDetect(const fs::path& dir, const fs::path& cwd) {
    fs::path exe = dir / "detect.exe";
    fs::copy_file(selfPath(), exe, fs::copy_options::overwrite_existing);
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE rd, wr;
    ::CreatePipe(&rd, &wr, &sa, 0);
    ::SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = wr;
    si.hStdError = wr;
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::wstring cmd = L"\"" + exe.wstring() + L"\" --detect";
    EXPECT_TRUE(::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, cwd.c_str(), &si, &pi));
    ::CloseHandle(wr);
    Child c{};
    char buf[256];
    DWORD n;
    while (::ReadFile(rd, buf, sizeof(buf), &n, nullptr) && n) c.out.append(buf, n);
    ::WaitForSingleObject(pi.hProcess, 30000);
    ::GetExitCodeProcess(pi.hProcess, &c.exitCode);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(rd);
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
    void placeLibrary(const fs::path& dir) { fs::copy_file(winePath(CENDRA_DLL), dir / "Cendra.dll"); }
};

}  // namespace

TEST_F(CendraDetect, OfflineWithoutTheLibrary) {
    Child c = runDetect(appDir, appDir);
    EXPECT_EQ(c.out, "Cendra not detected, using offline mode.\r\n");
    EXPECT_EQ(c.exitCode, 0u);
}

TEST_F(CendraDetect, OnlineWithTheLibraryBesideTheProgram) {
    placeLibrary(appDir);
    Child c = runDetect(appDir, otherDir);
    EXPECT_EQ(c.out, "Cendra mode enabled.\r\n");
    EXPECT_EQ(c.exitCode, 1u);
}

TEST_F(CendraDetect, ALibraryInTheCurrentDirectoryIsIgnored) {
    placeLibrary(otherDir);
    Child c = runDetect(appDir, otherDir);
    EXPECT_EQ(c.out, "Cendra not detected, using offline mode.\r\n");
}

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--detect") return DetectCendraLibrary() ? 1 : 0;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
