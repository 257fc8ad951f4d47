// Writes AVI files and the BGR24 frames they were fed into the build tree, for the native check
// that decodes them with an independent decoder (a Windows program cannot start it under Wine).
#include <gtest/gtest.h>
#include "recording/Avi10VideoEncoder.h"
#include "tests/avi/AviTestSupport.h"
#include "tests/support/Files.h"
#include "tests/support/TestSupport.h"

TEST(AviFilesForNativeCheck, Write) {
    const std::wstring folder = FromBuild(AVI_CHECKS_REL);
    CreateDirectoryW(folder.substr(0, folder.find_last_of(L'\\')).c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    const struct {
        int width, height, frames;
    } cases[] = {{202, 202, 6}, {640, 480, 4}};
    for (const auto& c : cases) {
        const std::wstring stem = folder + L"\\" + std::to_wstring(c.width) + L"x" + std::to_wstring(c.height);
        DeleteFileW((stem + L".avi").c_str());
        DeleteFileW((stem + L".bgr").c_str());
        DibFrame frame(c.width, c.height);
        ASSERT_NE(nullptr, frame.bitmap);
        std::string fed;
        Avi10VideoEncoder encoder(c.width, c.height, 24, stem + L".avi");
        ASSERT_TRUE(encoder.Open(stem + L".avi", 40));
        for (int i = 0; i < c.frames; ++i) {
            const std::string pixels = frame.Paint(i);
            ASSERT_TRUE(encoder.AddFrame(reinterpret_cast<const unsigned char*>(pixels.data()), frame.bitmap));
            fed += pixels;
        }
        ASSERT_TRUE(encoder.Close());
        ASSERT_TRUE(WriteBytes(stem + L".bgr", fed));
    }
}
