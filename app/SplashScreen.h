// The start-up splash: the image in a borderless popup with a caption drawn over its lower part and
// a progress bar along its bottom edge. The popup lives on a thread of its own, which owns the
// window, the bar and the step timer; the calling thread drives it only by posting thread messages.
// Image, title and parent are set before Show and only read by the splash thread afterwards.
#pragma once
#include <windows.h>
#include <string>

namespace Gdiplus {
class Image;
}

// What the splash thread does with an animation request: the bar goes to `first` at once, then
// moves by `step` once a second, `count` times (0: no timer).
struct SplashSteps {
    int first;
    int step;
    int count;
};

// The animation request's parameters: the end position over the start position's low word.
WPARAM PackSplashSteps(int from, int to);
// Without a positive number of steps there is nothing to divide by: the bar goes to the end.
SplashSteps UnpackSplashSteps(WPARAM packed, LPARAM steps);

// Top-left corner of a popup of `size` centred on the whole monitor rectangle, or on the work area
// when there is no monitor information (monitor null).
POINT PlaceSplash(const RECT* monitor, const RECT& workArea, SIZE size);
// PlaceSplash on the monitor nearest the cursor, or on the work area when that monitor tells nothing.
POINT PlaceSplashNearCursor(SIZE size);

// The splash picture of the file, or null when it cannot be loaded; one that MayDecodePictureFile
// refuses (framework/Image.h) is not decoded at all. The caller deletes it.
Gdiplus::Image* LoadSplashImage(const wchar_t* path);

class SplashScreen {
public:
    explicit SplashScreen(HWND parentWindow = nullptr);
    ~SplashScreen();
    SplashScreen(const SplashScreen&) = delete;
    SplashScreen& operator=(const SplashScreen&) = delete;

    // Keeps a clone; ignored when an image is already kept or source is null.
    void SetImage(Gdiplus::Image* source);
    // Before Show.
    void SetTitle(const std::wstring& text);
    // Starts the splash thread and waits (at most 5 s) until its window is shown and its message
    // queue exists, so that the messages posted afterwards arrive.
    void Show();
    // Ends the splash thread (terminated when it does not end within 9 s). Again: nothing.
    void Hide();
    // Bar position 0-100 and the caption drawn over the image (empty: none).
    void SetProgress(int position, const std::wstring& text);
    // The bar goes to `from`, then steps towards `to`, one of `steps` steps a second. A position
    // stops it.
    void AnimateProgress(int from, int to, int steps);

    HANDLE thread = nullptr;
    DWORD threadId = 0;
    HANDLE startEvent = nullptr;
    Gdiplus::Image* image = nullptr;
    HWND window = nullptr;
    std::wstring title;
    HWND progressBar = nullptr;
    HWND parent = nullptr;
    std::wstring caption;
    UINT_PTR timerId = 0;

private:
    static unsigned __stdcall ThreadProc(void* param);
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};
