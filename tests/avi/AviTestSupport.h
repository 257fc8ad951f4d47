// A 24-bit bottom-up DIB section painted with a pattern that moves from frame to frame, and an AVI
// file read back through AVIFile, for the writer's tests and the files the native check decodes.
#pragma once
#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>
#include <string>
#include <vector>

class DibFrame {
public:
    DibFrame(int width, int height, int bitCount = 24) : width(width), height(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = height;  // bottom-up, as the live view keeps it
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = static_cast<WORD>(bitCount);
        info.bmiHeader.biCompression = BI_RGB;
        void* pixels = nullptr;
        bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
        bits = static_cast<unsigned char*>(pixels);
        stride = (width * bitCount + 31) / 32 * 4;
    }
    ~DibFrame() {
        if (bitmap) DeleteObject(bitmap);
    }
    DibFrame(const DibFrame&) = delete;
    DibFrame& operator=(const DibFrame&) = delete;

    // Paints frame `index` and returns it as the live view hands it over: BGR24, row 0 on top, no
    // row gap. The row padding of the DIB section is zeroed.
    std::string Paint(int index) {
        std::string topDown(static_cast<size_t>(width) * 3 * height, '\0');
        for (int y = 0; y < height; ++y) {
            unsigned char* row = bits + static_cast<size_t>(height - 1 - y) * stride;
            for (int x = 0; x < width; ++x) {
                unsigned char* px = reinterpret_cast<unsigned char*>(&topDown[(static_cast<size_t>(y) * width + x) * 3]);
                px[0] = static_cast<unsigned char>(x + 8 * index);
                px[1] = static_cast<unsigned char>(y < 16 ? 255 : y * 3);  // a bright band on top
                px[2] = static_cast<unsigned char>((x ^ y) + 29 * index);
                row[x * 3] = px[0];
                row[x * 3 + 1] = px[1];
                row[x * 3 + 2] = px[2];
            }
            for (int pad = width * 3; pad < stride; ++pad) row[pad] = 0;
        }
        return topDown;
    }
    // The bytes as the DIB section stores them: rows bottom-up, padded.
    std::string Stored() const { return std::string(reinterpret_cast<const char*>(bits), Size()); }
    size_t Size() const { return static_cast<size_t>(stride) * height; }

    int width;
    int height;
    HBITMAP bitmap = nullptr;
    unsigned char* bits = nullptr;
    int stride = 0;
};

struct AviContents {
    bool opened = false;    // the file opened as AVI
    bool hasVideo = false;  // and holds a video stream
    AVISTREAMINFOW info{};
    BITMAPINFOHEADER format{};
    LONG formatSize = 0;
    std::vector<std::string> frames;
};

inline AviContents ReadAvi(const std::wstring& path) {
    AviContents contents;
    AVIFileInit();
    PAVIFILE file = nullptr;
    if (AVIFileOpenW(&file, path.c_str(), OF_READ | OF_SHARE_DENY_WRITE, nullptr) == 0) {
        contents.opened = true;
        PAVISTREAM stream = nullptr;
        if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == 0) {
            contents.hasVideo = true;
            AVIStreamInfoW(stream, &contents.info, sizeof contents.info);
            AVIStreamReadFormat(stream, 0, nullptr, &contents.formatSize);
            std::string format(contents.formatSize, '\0');
            LONG size = contents.formatSize;
            if (AVIStreamReadFormat(stream, 0, format.data(), &size) == 0 && size >= LONG(sizeof contents.format))
                memcpy(&contents.format, format.data(), sizeof contents.format);
            for (LONG i = 0; i < AVIStreamLength(stream); ++i) {
                LONG bytes = 0;
                if (AVIStreamRead(stream, i, 1, nullptr, 0, &bytes, nullptr) != 0) break;
                std::string frame(bytes, '\0');
                if (AVIStreamRead(stream, i, 1, frame.data(), bytes, nullptr, nullptr) != 0) break;
                contents.frames.push_back(std::move(frame));
            }
            AVIStreamRelease(stream);
        }
        AVIFileRelease(file);
    }
    AVIFileExit();
    return contents;
}

inline LONGLONG FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
