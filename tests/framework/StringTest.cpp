#include <gtest/gtest.h>
#include "framework/DateTime.h"
#include "framework/Strings.h"
#include <string>

TEST(CString, SubstringsClampToTheText) {
    const CString s(L"abcdef");
    struct Case { CString got; const wchar_t* want; } cases[] = {
        {s.Left(2), L"ab"},   {s.Left(99), L"abcdef"}, {s.Left(-1), L""},
        {s.Right(2), L"ef"},  {s.Right(99), L"abcdef"}, {s.Mid(4), L"ef"},
        {s.Mid(9), L""},      {s.Mid(1, 2), L"bc"},     {s.Mid(5, 9), L"f"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
    EXPECT_EQ(s.Find(L'c'), 2);
    EXPECT_EQ(s.Find(L"de"), 3);
    EXPECT_EQ(s.Find(L'z'), -1);
    EXPECT_EQ(CString(L"a\\b\\c").ReverseFind(L'\\'), 3);
}

TEST(CString, ReplaceDoesNotRescanWhatItInserted) {
    struct Case { const wchar_t* text; const wchar_t* from; const wchar_t* to; int count; const wchar_t* want; } cases[] = {
        {L"aaa", L"a", L"aa", 3, L"aaaaaa"},
        {L"x--y--", L"--", L"-", 2, L"x-y-"},
        {L"none", L"q", L"z", 0, L"none"},
        {L"abc", L"", L"z", 0, L"abc"},
    };
    for (const Case& c : cases) {
        CString s(c.text);
        EXPECT_EQ(s.Replace(c.from, c.to), c.count);
        EXPECT_EQ(s, c.want);
    }
}

TEST(CString, FormatGrowsPastItsFirstBuffer) {
    std::wstring longText(1000, L'x');
    CString s;
    s.Format(L"%d:%ls:%d", 12, longText.c_str(), 34);
    EXPECT_EQ(s.GetLength(), 1006);
    EXPECT_EQ(s.Left(3), L"12:");
    EXPECT_EQ(s.Right(3), L":34");
    CStringA a;
    a.Format("%s-%03d", "n", 7);
    EXPECT_EQ(a, "n-007");
}

TEST(CString, TrimAndWidthConversion) {
    CString s(L"  mid dle \r\n");
    EXPECT_EQ(s.Trim(), L"mid dle");
    EXPECT_EQ(CStringA(CString(L"Plain ASCII")), "Plain ASCII");
    EXPECT_EQ(CString(CStringA("back")), L"back");
    CString buf;
    wcscpy(buf.GetBuffer(16), L"abc");
    buf.ReleaseBuffer();
    EXPECT_EQ(buf.GetLength(), 3);
}

TEST(CTime, FormatsLocalTime) {
    // 2024-02-29 12:34:56 local time.
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 1;
    t.tm_mday = 29;
    t.tm_hour = 12;
    t.tm_min = 34;
    t.tm_sec = 56;
    t.tm_isdst = -1;
    CTime when(std::mktime(&t));
    EXPECT_EQ(when.Format(L"%m/%d/%Y %H:%M"), L"02/29/2024 12:34");
    EXPECT_EQ(when.Format(L"%Y%m%d%H%M%S"), L"20240229123456");
}
