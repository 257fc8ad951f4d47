#include "ui/SortedListFill.h"
#include "ui/ImageMetadata.h"
#include <algorithm>

SortedListFill::SortedListFill(CComboBox& list, std::vector<const void*>* table)
    : m_list(list), m_table(table), m_locale(static_cast<LCID>(list.SendMessage(CB_GETLOCALE))) {
    m_list.SendMessage(WM_SETREDRAW, FALSE);
    m_list.ResetContent();
    if (m_table) m_table->clear();
}

SortedListFill::~SortedListFill() { Commit(); }

std::string SortedListFill::SortKey(LCID locale, const std::wstring& text) {
    constexpr DWORD flags = LCMAP_SORTKEY | NORM_IGNORECASE;
    // Up to the first NUL, as the list keeps the text. Most keys fit the first buffer.
    char buffer[256];
    int bytes = ::LCMapStringW(locale, flags, text.c_str(), -1, reinterpret_cast<LPWSTR>(buffer), sizeof buffer);
    if (bytes > 0) return std::string(buffer, static_cast<size_t>(bytes));
    bytes = ::LCMapStringW(locale, flags, text.c_str(), -1, nullptr, 0);
    if (bytes <= 0) return {};
    std::string key(static_cast<size_t>(bytes), '\0');
    bytes = ::LCMapStringW(locale, flags, text.c_str(), -1, reinterpret_cast<LPWSTR>(key.data()), bytes);
    key.resize(bytes > 0 ? static_cast<size_t>(bytes) : 0);
    return key;
}

SortedListFill::Entry SortedListFill::MakeEntry(const std::string& text, const void* data) const {
    std::wstring wide = Utf8ToWide(text);
    std::string key = SortKey(m_locale, wide);
    return {std::move(key), std::move(wide), data};
}

void SortedListFill::Add(const std::string& text, const void* data) { m_entries.push_back(MakeEntry(text, data)); }

void SortedListFill::AddOnce(const std::string& text, const void* data) {
    Entry entry = MakeEntry(text, data);
    if (m_once.insert(entry.key).second) m_entries.push_back(std::move(entry));
}

void SortedListFill::Commit() {
    if (m_committed) return;
    m_committed = true;
    // Stable and then reversed within equal keys: the later-added of equal entries comes first.
    std::vector<size_t> order(m_entries.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = order.size() - 1 - i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return m_entries[a].key < m_entries[b].key; });
    const bool atEnd = m_list.GetCount() == 0;
    for (size_t i : order) {
        const Entry& e = m_entries[i];
        const int index = atEnd ? m_list.InsertString(-1, e.text.c_str()) : m_list.AddString(e.text.c_str());
        if (index < 0) continue;
        if (m_table) {
            if (static_cast<size_t>(index) <= m_table->size()) m_table->insert(m_table->begin() + index, e.data);
        } else if (e.data) {
            m_list.SetItemData(index, reinterpret_cast<DWORD_PTR>(e.data));
        }
    }
    m_entries.clear();
    m_once.clear();
    m_list.SendMessage(WM_SETREDRAW, TRUE);
    m_list.Invalidate();
}

const void* EntryData(const CComboBox& list, int index) {
    if (index < 0) return nullptr;
    const DWORD_PTR data = list.GetItemData(index);
    return data == static_cast<DWORD_PTR>(CB_ERR) ? nullptr : reinterpret_cast<const void*>(data);
}
