// main() for test programs that show windows: the common controls registered and GDI+ running for
// the whole program, as the application has them.
#include "tests/support/TestMain.h"
#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    StartGoogleTestWatcher();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    const int result = RUN_ALL_TESTS();
    Gdiplus::GdiplusShutdown(token);
    return result;
}
