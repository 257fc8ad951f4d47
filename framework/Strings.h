// CString (UTF-16) and CStringA (8-bit): value strings with the members the program uses.
#pragma once
#include <windows.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <algorithm>
#include <string>
#include <type_traits>

namespace fw_detail {
inline int vformat(char* buf, size_t n, const char* f, va_list a) { return std::vsnprintf(buf, n, f, a); }
inline int vformat(wchar_t* buf, size_t n, const wchar_t* f, va_list a) { return std::vswprintf(buf, n, f, a); }
inline size_t length(const char* s) { return s ? std::strlen(s) : 0; }
inline size_t length(const wchar_t* s) { return s ? std::wcslen(s) : 0; }
}

template <typename Ch>
class CStringT {
public:
    using XCHAR = Ch;
    using PCXSTR = const Ch*;

    CStringT() = default;
    CStringT(const Ch* s) : m_s(s ? s : empty()) {}
    CStringT(const Ch* s, int n) : m_s(s, static_cast<size_t>(n)) {}
    CStringT(Ch c, int repeat = 1) : m_s(static_cast<size_t>(repeat), c) {}
    CStringT(const std::basic_string<Ch>& s) : m_s(s) {}
    // Conversion from the other width, as the class library does it: the thread's ANSI code page.
    template <typename Other, typename = std::enable_if_t<!std::is_same_v<Other, Ch>>>
    explicit CStringT(const Other* s) { assignConverted(s, static_cast<int>(fw_detail::length(s))); }
    template <typename Other, typename = std::enable_if_t<!std::is_same_v<Other, Ch>>>
    explicit CStringT(const CStringT<Other>& s) { assignConverted(s.GetString(), s.GetLength()); }

    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    PCXSTR GetString() const { return m_s.c_str(); }
    operator PCXSTR() const { return m_s.c_str(); }
    const std::basic_string<Ch>& str() const { return m_s; }
    Ch GetAt(int i) const { return m_s[static_cast<size_t>(i)]; }
    Ch operator[](int i) const { return m_s[static_cast<size_t>(i)]; }

    Ch* GetBuffer(int minLength = 0) {
        if (static_cast<size_t>(minLength) > m_s.size()) m_s.resize(static_cast<size_t>(minLength));
        return m_s.data();
    }
    Ch* GetBufferSetLength(int n) { m_s.resize(static_cast<size_t>(n)); return m_s.data(); }
    void ReleaseBuffer(int newLength = -1) {
        m_s.resize(newLength < 0 ? fw_detail::length(m_s.c_str()) : static_cast<size_t>(newLength));
    }

    CStringT& operator=(const Ch* s) { m_s = s ? s : empty(); return *this; }
    CStringT& operator+=(const CStringT& s) { m_s += s.m_s; return *this; }
    CStringT& operator+=(const Ch* s) { if (s) m_s += s; return *this; }
    CStringT& operator+=(Ch c) { m_s += c; return *this; }
    friend CStringT operator+(CStringT a, const CStringT& b) { return a += b; }
    friend CStringT operator+(CStringT a, const Ch* b) { return a += b; }
    friend CStringT operator+(const Ch* a, const CStringT& b) { return CStringT(a) += b; }
    friend CStringT operator+(CStringT a, Ch b) { return a += b; }
    friend bool operator==(const CStringT& a, const CStringT& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CStringT& a, const Ch* b) { return a.m_s == (b ? b : empty()); }
    friend bool operator<(const CStringT& a, const CStringT& b) { return a.m_s < b.m_s; }

    int Compare(const Ch* s) const { return m_s.compare(s ? s : empty()); }
    int Find(Ch c, int start = 0) const { return pos(m_s.find(c, static_cast<size_t>(start))); }
    int Find(const Ch* s, int start = 0) const { return pos(m_s.find(s, static_cast<size_t>(start))); }
    int ReverseFind(Ch c) const { return pos(m_s.rfind(c)); }
    CStringT Left(int n) const { return CStringT(m_s.substr(0, clampLen(n))); }
    CStringT Right(int n) const { size_t k = clampLen(n); return CStringT(m_s.substr(m_s.size() - k)); }
    CStringT Mid(int first) const { return first >= GetLength() ? CStringT() : CStringT(m_s.substr(clampLen(first))); }
    CStringT Mid(int first, int n) const {
        return first >= GetLength() ? CStringT() : CStringT(m_s.substr(clampLen(first), clampLen(n)));
    }
    int Replace(const Ch* from, const Ch* to) {
        std::basic_string<Ch> f(from), t(to);
        if (f.empty()) return 0;
        int count = 0;
        for (size_t p = m_s.find(f); p != std::basic_string<Ch>::npos; p = m_s.find(f, p + t.size())) {
            m_s.replace(p, f.size(), t);
            ++count;
        }
        return count;
    }
    CStringT& Trim() { return TrimLeft().TrimRight(); }
    CStringT& TrimLeft() { size_t p = 0; while (p < m_s.size() && isSpace(m_s[p])) ++p; m_s.erase(0, p); return *this; }
    CStringT& TrimRight() { while (!m_s.empty() && isSpace(m_s.back())) m_s.pop_back(); return *this; }

    void Format(const Ch* fmt, ...) { va_list a; va_start(a, fmt); FormatV(fmt, a); va_end(a); }
    void AppendFormat(const Ch* fmt, ...) {
        va_list a; va_start(a, fmt); CStringT t; t.FormatV(fmt, a); va_end(a); m_s += t.m_s;
    }
    void FormatV(const Ch* fmt, va_list args) {
        for (size_t cap = 256;; cap *= 2) {
            std::basic_string<Ch> buf(cap, Ch(0));
            va_list copy;
            va_copy(copy, args);
            int n = fw_detail::vformat(buf.data(), cap, fmt, copy);
            va_end(copy);
            if (n >= 0 && static_cast<size_t>(n) < cap) { buf.resize(static_cast<size_t>(n)); m_s = buf; return; }
            if (cap > (1u << 24)) { m_s.clear(); return; }
        }
    }

private:
    static const Ch* empty() { static const Ch e[1] = {0}; return e; }
    static bool isSpace(Ch c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
    static int pos(size_t p) { return p == std::basic_string<Ch>::npos ? -1 : static_cast<int>(p); }
    size_t clampLen(int n) const { return n < 0 ? 0 : std::min(static_cast<size_t>(n), m_s.size()); }
    void assignConverted(const char* s, int n) {
        if (n <= 0) return;
        int w = MultiByteToWideChar(CP_ACP, 0, s, n, nullptr, 0);
        m_s.resize(static_cast<size_t>(w));
        MultiByteToWideChar(CP_ACP, 0, s, n, m_s.data(), w);
    }
    void assignConverted(const wchar_t* s, int n) {
        if (n <= 0) return;
        int b = WideCharToMultiByte(CP_ACP, 0, s, n, nullptr, 0, nullptr, nullptr);
        m_s.resize(static_cast<size_t>(b));
        WideCharToMultiByte(CP_ACP, 0, s, n, m_s.data(), b, nullptr, nullptr);
    }

    std::basic_string<Ch> m_s;
};

using CString = CStringT<wchar_t>;
using CStringW = CStringT<wchar_t>;
using CStringA = CStringT<char>;
