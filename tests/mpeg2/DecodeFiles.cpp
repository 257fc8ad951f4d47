// Writes MPEG-2 files and the BGR24 pictures fed into them for the native decoder check
// (check_decode.py): a Windows program cannot start Debian's ffmpeg under Wine.
#include <gtest/gtest.h>
#include <cstdio>
#include "recording/LibAVVideoEncoder.h"
#include "tests/support/Files.h"
#include "tests/mpeg2/Pictures.h"
#include "tests/mpeg2/TestEncoder.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(Mpeg2DecodeFiles, WritesStreamsAndTheirPictures) {
    const std::wstring folder = FromBuild(MPEG2_DECODE_REL);
    CreateDirectoryW(folder.c_str(), nullptr);
    struct Case {
        const char* name;
        int width, height, pictures, repeat;
    } cases[] = {
        {"320x240", 320, 240, 30, 1},
        {"202x202", 202, 202, 20, 1},  // not a whole number of macroblocks
        {"doubled", 320, 240, 12, 2},  // the live view's double feeding
    };
    std::string manifest;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring stem = folder + L"\\" + std::wstring(c.name, c.name + strlen(c.name));
        std::string fed;
        TestEncoder encoder(stem + L".mpg", c.width, c.height);  // paced: the worker drops nothing
        ASSERT_TRUE(encoder.Open(stem + L".mpg", 16));
        for (int i = 0; i < c.pictures; ++i) {
            const std::vector<uint8_t> picture = TestPicture(c.width, c.height, i);
            for (int r = 0; r < c.repeat; ++r) {
                ASSERT_TRUE(encoder.AddFrame(picture.data(), nullptr));
                fed.append(picture.begin(), picture.end());
            }
        }
        ASSERT_TRUE(encoder.Close());
        ASSERT_EQ(encoder.DroppedPictures(), 0u);
        ASSERT_TRUE(WriteBytes(stem + L".bgr", fed));
        char line[128];
        std::snprintf(line, sizeof line, "%s %d %d %d %d %d\n", c.name, c.width, c.height, c.pictures * c.repeat,
                      kBlockSize, c.height / 8);
        manifest += line;
    }
    ASSERT_TRUE(WriteBytes(folder + L"\\cases.txt", manifest));
}

}  // namespace
