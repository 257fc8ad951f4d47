// Fills one sorted drop-down list with the session's texts in a single pass, for the test-details
// panel and Edit Image Details alike. Adding entry by entry costs a search of the list per entry
// (CB_FINDSTRINGEXACT is linear) and a sorted insert that may move every entry after it; with a
// location's many thousand endoscopes that held the window for minutes. Here the list is emptied,
// the entries are gathered and put in the list's own order by the sort key of its comparison
// (CompareStringW ignoring case, in the list's locale), and each is added at the end, all with the
// list's redraw held.
//
// Each entry may carry data: the pointer its caller gives, so that a choice is looked up by what
// was listed, never by converting its text back. The data goes into the list as item data, or
// into a table the caller keeps by position: a list whose entries hold item data sends its owner
// one WM_DELETEITEM per entry when it is emptied, which a list of 200,000 entries feels. UI thread
// only.
#pragma once
#include "framework/Framework.h"
#include <string>
#include <unordered_set>
#include <vector>

class SortedListFill {
public:
    // Holds the list's redraw and empties it. With a table, the entries' data is kept there, the
    // data of entry i at table[i], and the entries get no item data; the table is emptied too, and
    // stays right only while nothing else adds to or removes from the list.
    explicit SortedListFill(CComboBox& list, std::vector<const void*>* table = nullptr);
    // Commits, if that has not been done.
    ~SortedListFill();
    SortedListFill(const SortedListFill&) = delete;
    SortedListFill& operator=(const SortedListFill&) = delete;

    // text: the service's UTF-8, shown as Utf8ToWide gives it; data: the entry's (none when null).
    void Add(const std::string& text, const void* data = nullptr);
    // As Add, unless an earlier AddOnce of this fill gave a text the list takes as the same: the
    // list's exact search ignores case, so models that differ only in case are listed once.
    void AddOnce(const std::string& text, const void* data = nullptr);
    void AddEmpty() { Add(std::string()); }

    // Adds the gathered entries and lets the list redraw; later calls do nothing. Entries go to the
    // end (CB_INSERTSTRING), being in their sorted places already, or where an entry was added to
    // the list meanwhile, through CB_ADDSTRING. Entries the list takes as equal stand the
    // later-added first, where CB_ADDSTRING puts the second of two.
    void Commit();

    // The sort key of text in locale: equal keys for texts that CompareStringW, ignoring case,
    // calls equal, and bytewise order of the keys as its order.
    static std::string SortKey(LCID locale, const std::wstring& text);

private:
    struct Entry {
        std::string key;
        std::wstring text;
        const void* data;
    };
    Entry MakeEntry(const std::string& text, const void* data) const;

    CComboBox& m_list;
    std::vector<const void*>* m_table;
    LCID m_locale;
    bool m_committed = false;
    std::vector<Entry> m_entries;
    std::unordered_set<std::string> m_once;  // keys given through AddOnce
};

// The item data that entry index of list was given; null without any, or when index is CB_ERR.
const void* EntryData(const CComboBox& list, int index);
