// CTime: a local calendar time with strftime-style formatting.
#pragma once
#include "framework/Strings.h"
#include <ctime>

class CTime {
public:
    CTime() = default;
    explicit CTime(time_t t) : m_time(t) {}
    static CTime GetCurrentTime() { return CTime(std::time(nullptr)); }
    time_t GetTime() const { return m_time; }
    CString Format(const wchar_t* format) const {
        std::tm local{};
        localtime_s(&local, &m_time);
        wchar_t buf[256];
        size_t n = std::wcsftime(buf, 256, format, &local);
        return CString(buf, static_cast<int>(n));
    }

private:
    time_t m_time = 0;
};
