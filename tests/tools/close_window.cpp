// close_window CAPTION: posts WM_CLOSE to the top-level window with that caption, as the caption's
// close button would; exit code 0 when one was found.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    HWND w = ::FindWindowW(nullptr, argv[1]);
    if (!w) return 1;
    ::PostMessageW(w, WM_CLOSE, 0, 0);
    return 0;
}
