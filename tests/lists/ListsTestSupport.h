// What the thumbnail-list tests share: bitmaps written pixel by pixel, PNGs of one grey of any
// size, a real main dialog on fake devices in this process, dialogs run modally with a script,
// and list views read back.
#pragma once
#include <gtest/gtest.h>
#include "cloud/Upload.h"
#include "framework/Framework.h"
#include "res/resource.h"
#include "tests/support/FakeVideo.h"
#include "tests/support/Files.h"
#include "ui/ImageMetadata.h"
#include "ui/LumetraDlg.h"
#include "video/CompositeVideoSourceProvider.h"
#include <psapi.h>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A 24-bit bottom-up .bmp of width x height whose pixel (x, y from the top) is colour(x, y).
inline std::string BmpBytes(int width, int height, const std::function<COLORREF(int, int)>& colour) {
    const int stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(stride * height);
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = static_cast<DWORD>(stride * height);
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    std::string row(static_cast<size_t>(stride), '\0');
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const COLORREF c = colour(x, y);
            row[static_cast<size_t>(x) * 3] = static_cast<char>(GetBValue(c));
            row[static_cast<size_t>(x) * 3 + 1] = static_cast<char>(GetGValue(c));
            row[static_cast<size_t>(x) * 3 + 2] = static_cast<char>(GetRValue(c));
        }
        bytes += row;
    }
    return bytes;
}

inline bool WriteSolidBmp(const std::wstring& path, COLORREF colour, int width = 32, int height = 24) {
    return WriteBytes(path, BmpBytes(width, height, [colour](int, int) { return colour; }));
}

// A valid 8-bit greyscale PNG of width x height, every pixel grey. Compressed for real (each row
// is its Sub filter, the grey, then zeros: a run that deflate's fixed codes copy 258 bytes at a
// time), so a picture of 20000 x 20000 takes a few MB on disk and all of its 400 MB to decode.
inline std::string GreyPngBytes(uint32_t width, uint32_t height, uint8_t grey) {
    auto crc = [](const std::string& bytes) {
        uint32_t c = 0xFFFFFFFFu;
        for (unsigned char b : bytes) {
            c ^= b;
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
        }
        return ~c;
    };
    auto be32 = [](uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    auto chunk = [&](const char* type, const std::string& data) {
        const std::string typed = type + data;
        return be32(static_cast<uint32_t>(data.size())) + typed + be32(crc(typed));
    };

    std::string z = "\x78\x01";  // zlib: deflate, 32K window
    uint32_t bits = 0;
    int count = 0;
    auto put = [&](uint32_t value, int n) {  // LSB first
        bits |= value << count;
        count += n;
        while (count >= 8) {
            z += static_cast<char>(bits & 0xFF);
            bits >>= 8;
            count -= 8;
        }
    };
    auto code = [&](uint32_t value, int n) {  // Huffman codes go MSB first
        for (int i = n - 1; i >= 0; --i) put((value >> i) & 1, 1);
    };
    auto symbol = [&](uint32_t sym) {  // the fixed literal/length code
        if (sym < 144) code(0x30 + sym, 8);
        else if (sym < 256) code(0x190 + sym - 144, 9);
        else if (sym < 280) code(sym - 256, 7);
        else code(0xC0 + sym - 280, 8);
    };
    auto match = [&](uint32_t length) {  // 3..258 bytes copied from distance 1
        static const uint32_t base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                        31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const int extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                    3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        int i = 28;
        while (base[i] > length) --i;
        symbol(257 + i);
        put(length - base[i], extra[i]);
        code(0, 5);  // distance 1
    };
    put(1, 1);  // the final block
    put(1, 2);  // fixed codes
    uint32_t s1 = 1, s2 = 0;  // Adler-32 of the raw rows
    for (uint32_t y = 0; y < height; ++y) {
        symbol(1);  // Sub: each byte is the difference to the one on its left
        symbol(grey);
        s1 = (s1 + 1) % 65521;
        s2 = (s2 + s1) % 65521;
        s1 = (s1 + grey) % 65521;
        s2 = (s2 + s1) % 65521;
        s2 = static_cast<uint32_t>((s2 + static_cast<uint64_t>(s1) * (width - 1)) % 65521);
        uint32_t zeros = width - 1;
        if (zeros > 0) {
            symbol(0);
            --zeros;
        }
        while (zeros >= 3) {
            uint32_t length = std::min<uint32_t>(zeros, 258);
            if (zeros - length == 1 || zeros - length == 2) length -= 3;
            match(length);
            zeros -= length;
        }
        for (; zeros > 0; --zeros) symbol(0);
    }
    symbol(256);  // end of block
    put(0, 7);    // to the byte boundary
    z += be32(s2 << 16 | s1);

    const std::string header = be32(width) + be32(height) + std::string("\x08\x00\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1A\n", 8) + chunk("IHDR", header) + chunk("IDAT", z) + chunk("IEND", "");
}

// A GIF of one colour: a logical screen of screenWidth x screenHeight, then one frame of
// width x height at its top left, behind a graphic control extension. Its LZW codes are those an
// encoder writes for one colour (runs one pixel longer each time, a clear code whenever the table
// is full), so that a frame of 12000 x 12000 takes about 100 KB.
inline std::string FlatGifBytes(uint16_t screenWidth, uint16_t screenHeight, uint16_t width, uint16_t height,
                                COLORREF colour) {
    auto le16 = [](uint32_t v) { return std::string{static_cast<char>(v), static_cast<char>(v >> 8)}; };
    std::string gif = "GIF89a" + le16(screenWidth) + le16(screenHeight) + std::string("\x80\0\0", 3);
    gif += {static_cast<char>(GetRValue(colour)), static_cast<char>(GetGValue(colour)),
            static_cast<char>(GetBValue(colour)), 0, 0, 0};  // two colours; the first is used
    gif += std::string("\x21\xF9\x04\0\0\0\0\0", 8);
    gif += "\x2C" + le16(0) + le16(0) + le16(width) + le16(height) + std::string(1, '\0');

    constexpr int kMinCodeSize = 2, kClear = 4, kEnd = 5, kTableFull = 4095;
    std::string lzw;
    uint32_t bits = 0;
    int count = 0;
    auto put = [&](uint32_t code, int n) {  // LSB first
        bits |= code << count;
        for (count += n; count >= 8; count -= 8, bits >>= 8) lzw += static_cast<char>(bits & 0xFF);
    };
    int codeSize = kMinCodeSize + 1, next = kEnd + 1;
    uint32_t longest = 1;  // the longest run the table holds: n pixels are code kEnd + n - 1
    put(kClear, codeSize);
    for (uint64_t left = static_cast<uint64_t>(width) * height; left > 0;) {
        const uint32_t run = static_cast<uint32_t>(std::min<uint64_t>(longest, left));
        put(run == 1 ? 0 : kEnd + run - 1, codeSize);
        left -= run;
        if (next >= (1 << codeSize) && codeSize < 12) ++codeSize;
        if (left == 0) break;
        if (next >= kTableFull) {
            put(kClear, codeSize);
            codeSize = kMinCodeSize + 1;
            next = kEnd + 1;
            longest = 1;
        } else {
            ++next;  // the run one pixel longer
            ++longest;
        }
    }
    put(kEnd, codeSize);
    if (count > 0) lzw += static_cast<char>(bits & 0xFF);
    gif += static_cast<char>(kMinCodeSize);
    for (size_t at = 0; at < lzw.size(); at += 255) {
        const size_t n = std::min<size_t>(255, lzw.size() - at);
        gif += static_cast<char>(n) + lzw.substr(at, n);
    }
    return gif + std::string(1, '\0') + "\x3B";
}

// A baseline greyscale JPEG of mid-grey (128): every 8 x 8 block a DC difference of 0 and an end
// of block, each coded as the one-bit code 0, so that 12000 x 12000 takes 562 KB of zero bytes.
// `stray` stands between SOI and the tables.
inline std::string FlatJpegBytes(uint16_t width, uint16_t height, const std::string& stray = "") {
    auto be16 = [](size_t v) { return std::string{static_cast<char>(v >> 8), static_cast<char>(v)}; };
    auto segment = [&](int marker, const std::string& body) {
        return std::string{'\xFF', static_cast<char>(marker)} + be16(body.size() + 2) + body;
    };
    const std::string zero(1, '\0');
    const std::string oneCode = "\x01" + std::string(16, '\0');  // one code of length 1, for symbol 0
    std::string jpeg = "\xFF\xD8" + stray;
    jpeg += segment(0xDB, zero + std::string(64, '\x01'));
    jpeg += segment(0xC0, "\x08" + be16(height) + be16(width) + "\x01\x01\x11" + zero);
    jpeg += segment(0xC4, zero + oneCode);        // DC table 0
    jpeg += segment(0xC4, "\x10" + oneCode);     // AC table 0: symbol 0 ends the block
    jpeg += segment(0xDA, "\x01\x01" + zero + zero + "\x3F" + zero);
    const uint64_t blocks = static_cast<uint64_t>((width + 7) / 8) * ((height + 7) / 8);
    jpeg += std::string(static_cast<size_t>((blocks * 2 + 7) / 8), '\0');
    return jpeg + "\xFF\xD9";
}

// The 20000 x 20000 picture (400 megapixels, far above any camera's), made once per test program.
inline const std::string& HugePngBytes() {
    static const std::string bytes = GreyPngBytes(20000, 20000, 0xC0);
    return bytes;
}

// The most of the process's memory that has been in RAM at once so far: a decoder that took a
// picture of 400 megapixels raises it by 400 MB at least.
inline SIZE_T PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
}
constexpr SIZE_T kNoDecodingGrowth = 100u << 20;

// Rows of a list view as (text, image index).
struct Row {
    std::wstring text;
    int image = -1;
};
inline std::vector<Row> Rows(HWND list) {
    std::vector<Row> rows;
    const int n = ListView_GetItemCount(list);
    for (int i = 0; i < n; ++i) {
        wchar_t text[512] = {};
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = i;
        item.pszText = text;
        item.cchTextMax = 512;
        ListView_GetItem(list, &item);
        rows.push_back({text, item.iImage});
    }
    return rows;
}
// The row labelled name (-1 when none).
inline int RowNamed(HWND list, const std::wstring& name) {
    const std::vector<Row> rows = Rows(list);
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].text == name) return static_cast<int>(i);
    return -1;
}
// Selects one row as a click would (the others lose selection); -1 clears the selection.
inline void SelectRow(HWND list, int row) {
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (row >= 0) ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

inline std::wstring ItemText(HWND dlg, int id) {
    wchar_t text[512] = {};
    GetDlgItemTextW(dlg, id, text, 512);
    return text;
}
inline void Click(HWND dlg, int id) {
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

// A dialog run modally with a script: the script runs inside the modal loop once the dialog is
// up. Should the dialog still be open 10 s later, it ends with kStillOpen so a test cannot hang.
// (A timer, not a posted message: the dialog manager posts the close box's IDCANCEL itself.)
constexpr UINT kRunScriptMessage = WM_APP + 77;
constexpr UINT_PTR kWatchdogTimer = 0x5C71;
constexpr int kStillOpen = -77;

template <class Dlg>
class Scripted : public Dlg {
public:
    using Dlg::Dlg;
    std::function<void(Scripted&)> script;
    using Dlg::EndDialog;

protected:
    BOOL OnInitDialog() override {
        BOOL focus = Dlg::OnInitDialog();
        this->PostMessage(kRunScriptMessage);
        return focus;
    }
    LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
        if (msg == kRunScriptMessage) {
            // Armed after the script: a nested dialog it runs must not trip this one's.
            if (script) script(*this);
            this->SetTimer(kWatchdogTimer, 10000);
            return 0;
        }
        if (msg == WM_TIMER && w == kWatchdogTimer) {
            this->KillTimer(kWatchdogTimer);
            this->EndDialog(kStillOpen);
            return 0;
        }
        return Dlg::WindowProc(msg, w, l);
    }
};

// Ways a user ends a dialog from the keyboard or the frame.
inline void PressKey(HWND dlg, UINT key) { PostMessageW(dlg, WM_KEYDOWN, key, 0); }
inline void PressCloseBox(HWND dlg) { PostMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0); }

struct FakeSource : FakeCamera {
    FakeSource() : FakeCamera("Cam") {}
};

// The program's main dialog (offline at start; tests switch m_online) with the profile in a
// temporary folder and its message boxes kept.
class TestMainDlg : public CLumetraDlg {
public:
    explicit TestMainDlg(std::wstring profile) : CLumetraDlg(FALSE), m_profile(std::move(profile)) {}
    std::vector<std::wstring> boxes;

protected:
    bool ProfileFolder(std::wstring& folder) override {
        folder = m_profile;
        return true;
    }
    int ShowMessage(const wchar_t* text, const wchar_t*, UINT) override {
        boxes.push_back(text);
        return IDOK;
    }

private:
    std::wstring m_profile;
};

// A main dialog in a fresh profile: images in <temp>\Lumetra, references and metadata below it.
class MainDialogFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.ok());
        webcams->list.push_back(&source);
        main = std::make_unique<TestMainDlg>(temp.path());
        main->m_provider = &provider;
        ASSERT_TRUE(main->Create(IDD_LUMETRA_DIALOG));
        ASSERT_EQ(main->m_imagesFolder, temp.path() + L"\\Lumetra");
    }
    void TearDown() override {
        if (main) main->DestroyWindow();
        main.reset();
    }
    std::wstring Images() const { return main->m_imagesFolder; }
    std::wstring Image(const std::wstring& name) const { return main->m_imagesFolder + L"\\" + name; }
    std::wstring Reference(const std::wstring& name) const {
        return main->m_imagesFolder + L"\\ReferenceImages\\" + name;
    }
    void WriteMeta(const std::wstring& imageName, const ImageMetadata& record) {
        const std::wstring stem = imageName.substr(0, imageName.rfind(L'.'));
        ASSERT_TRUE(WriteMetaFile(main->m_metadataFolder, stem + L".meta", record));
    }

    TempFolder temp;
    FakeSource source;
    FakeProvider* webcams = new FakeProvider;
    CompositeVideoSourceProvider provider{webcams, new FakeProvider};
    std::unique_ptr<TestMainDlg> main;
};

// A record whose every field names itself, so that a field shown in the wrong place is seen.
inline ImageMetadata NamedDetails(const std::wstring& tag) {
    ImageMetadata m;
    m.facility = tag + L" facility";
    m.location = tag + L" location";
    m.testDate = tag + L" date";
    m.testTime = tag + L" time";
    m.operatorName = tag + L" operator";
    m.serial = tag + L" serial";
    m.model = tag + L" model";
    m.endoscopeType = tag + L" type";
    m.recommendedActions = tag + L" actions";
    m.testResult = tag + L" result";
    m.comments = tag + L" comments";
    return m;
}
