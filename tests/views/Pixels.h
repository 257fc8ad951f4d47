// Pixels for the view tests: a memory canvas to draw into or copy a window into, and a shown
// dialog whose controls paint for real.
#pragma once
#include <windows.h>
#include <cstdint>
#include <vector>

// A top-down 32-bpp DIB section selected into a memory DC.
class Canvas {
public:
    Canvas(int w, int h) : width(w), height(h) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* p = nullptr;
        m_bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &p, nullptr, 0);
        m_bits = static_cast<uint32_t*>(p);
        dc = ::CreateCompatibleDC(nullptr);
        m_old = ::SelectObject(dc, m_bitmap);
    }
    ~Canvas() {
        ::SelectObject(dc, m_old);
        ::DeleteDC(dc);
        ::DeleteObject(m_bitmap);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    COLORREF at(int x, int y) const {
        ::GdiFlush();
        uint32_t v = m_bits[y * width + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    void fill(COLORREF c) {
        HBRUSH brush = ::CreateSolidBrush(c);
        RECT all{0, 0, width, height};
        ::FillRect(dc, &all, brush);
        ::DeleteObject(brush);
    }
    // The window's client area as it is on the screen now.
    bool grab(HWND window) {
        HDC source = ::GetDC(window);
        BOOL ok = ::BitBlt(dc, 0, 0, width, height, source, 0, 0, SRCCOPY);
        ::ReleaseDC(window, source);
        return ok != FALSE;
    }
    // Where the canvas has colour c, inside a margin of one pixel (row by row).
    std::vector<bool> mask(COLORREF c) const {
        std::vector<bool> m(static_cast<size_t>(width) * height, false);
        for (int y = 1; y < height - 1; ++y)
            for (int x = 1; x < width - 1; ++x) m[static_cast<size_t>(y * width + x)] = at(x, y) == c;
        return m;
    }

    HDC dc = nullptr;
    const int width, height;

private:
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    uint32_t* m_bits = nullptr;
};

inline void drainMessages() {
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&m);
        ::DispatchMessageW(&m);
    }
}

// Shows a dialog on top without activating it and lets it paint.
inline void showOnTop(HWND dialog) {
    ::SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    ::UpdateWindow(dialog);
    drainMessages();
}

// Repaints a control now, with or without erasing first.
inline void repaint(HWND control, BOOL erase = FALSE) {
    ::InvalidateRect(control, nullptr, erase);
    ::UpdateWindow(control);
}
