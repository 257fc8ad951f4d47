// Opening the upload dialog again and again on a full images folder: every thumbnail, image list
// and intermediate bitmap goes with the dialog. Its own program, so other tests' memory does not
// blur the figures.
#include "cloud/UploadCendraDlg.h"
#include "tests/lists/ListsTestSupport.h"
#include <psapi.h>
#include <cstdio>

namespace {

// What the system reports as the process's private bytes (0 under Wine, which leaves it unset).
SIZE_T ReportedPrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    return counters.PrivateUsage;
}

// The committed private pages of the address space, counted region by region: the same measure,
// and available everywhere.
SIZE_T CommittedPrivateBytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        if (region.RegionSize == 0) break;
    }
    return total;
}

double Mb(SIZE_T bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

// One opening as the main dialog makes it: new, modal, closed by the operator, deleted.
int OpenAndCancel(CLumetraDlg* main) {
    auto dlg = std::make_unique<Scripted<CUploadCendraDlg>>(main);
    size_t listed = 0;
    dlg->script = [&listed](Scripted<CUploadCendraDlg>& d) {
        listed = d.m_items.size();
        PressKey(d.m_hWnd, VK_ESCAPE);
    };
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
    dlg->DestroyWindow();
    dlg.reset();
    CWnd::DeleteTempMap();  // what the application's idle time does
    return static_cast<int>(listed);
}

class Leak : public MainDialogFixture {};

TEST_F(Leak, ThirtyOpeningsOnTwoHundredImagesKeepPrivateBytesLevel) {
    constexpr int kImages = 200, kOpenings = 30;
    for (int i = 0; i < kImages; ++i) {
        const std::string bytes = BmpBytes(160, 120, [i](int x, int y) { return RGB(x + i, y * 2, (x ^ y) & 0xFF); });
        ASSERT_TRUE(WriteBytes(Image(L"still_" + std::to_wstring(i) + L".bmp"), bytes));
    }
    // The first opening fills the libraries' own caches; growth is counted from after it.
    ASSERT_EQ(OpenAndCancel(main.get()), kImages);
    const SIZE_T reportedBefore = ReportedPrivateBytes(), before = CommittedPrivateBytes();
    const DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    for (int i = 0; i < kOpenings; ++i) ASSERT_EQ(OpenAndCancel(main.get()), kImages);
    const SIZE_T reportedAfter = ReportedPrivateBytes(), after = CommittedPrivateBytes();
    const DWORD gdiAfter = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    std::printf("committed private %.1f MB -> %.1f MB, reported private %.1f MB -> %.1f MB, over %d openings; "
                "GDI objects %lu -> %lu\n",
                Mb(before), Mb(after), Mb(reportedBefore), Mb(reportedAfter), kOpenings, gdiBefore, gdiAfter);
    // One thumbnail kept per image and opening would be 200 x 30 x 56 KB, some 330 MB.
    EXPECT_LT(Mb(after) - Mb(before), 4.0);
    if (reportedBefore > 0) {
        EXPECT_LT(Mb(reportedAfter) - Mb(reportedBefore), 4.0);
    }
    // Wine reports no GDI object count (0); Windows does, and it must stay level.
    if (gdiBefore > 0) {
        EXPECT_LE(gdiAfter, gdiBefore + 10);
    }
}

}  // namespace
