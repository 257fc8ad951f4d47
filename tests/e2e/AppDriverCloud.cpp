// List views and tab controls of another process, worked through memory lent in that process: the
// system carries no pointer of these controls' messages across processes.
#include "tests/e2e/AppDriver.h"
#include <commctrl.h>

namespace e2e {
namespace {

constexpr UINT kMessageTimeoutMs = 10000;

std::string Failed(const std::string& what) { return what + " failed, error " + std::to_string(GetLastError()); }

LRESULT SendTo(const Window& w, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!w || !SendMessageTimeoutW(w.hwnd(), message, wParam, lParam, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result))
        throw Error(Failed("sending message " + std::to_string(message) + " to " +
                           (w ? w.Describe() : std::string("no window"))));
    return (LRESULT)result;
}

// Memory in the process of a window, freed on destruction.
class RemoteMemory {
public:
    RemoteMemory(const Window& owner, size_t size) : m_size(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(owner.hwnd(), &pid);
        m_process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (!m_process)
            throw Error(Failed("opening the process of " + owner.Describe()));
        m_address = static_cast<char*>(VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
        if (!m_address) {
            CloseHandle(m_process);
            throw Error(Failed("lending memory in the process of " + owner.Describe()));
        }
    }
    ~RemoteMemory() {
        VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
        CloseHandle(m_process);
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    char* at(size_t offset = 0) const { return m_address + offset; }
    void Write(const void* data, size_t size, size_t offset = 0) const {
        if (offset + size > m_size || !WriteProcessMemory(m_process, m_address + offset, data, size, nullptr))
            throw Error(Failed("writing to another process"));
    }
    void Read(void* data, size_t size, size_t offset = 0) const {
        if (offset + size > m_size || !ReadProcessMemory(m_process, m_address + offset, data, size, nullptr))
            throw Error(Failed("reading from another process"));
    }

private:
    HANDLE m_process = nullptr;
    char* m_address = nullptr;
    size_t m_size;
};

void SetRowState(const Window& list, const RemoteMemory& memory, int row, UINT state) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = state;
    memory.Write(&item, sizeof item);
    if (!SendTo(list, LVM_SETITEMSTATE, row, (LPARAM)memory.at()))
        throw Error("row " + std::to_string(row) + " of " + list.Describe() + " refused its state");
}

}  // namespace

int ListViewCount(const Window& list) { return (int)SendTo(list, LVM_GETITEMCOUNT, 0, 0); }

std::vector<int> ListViewSelection(const Window& list) {
    std::vector<int> rows;
    for (int row = (int)SendTo(list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED); row >= 0;
         row = (int)SendTo(list, LVM_GETNEXTITEM, row, LVNI_SELECTED))
        rows.push_back(row);
    return rows;
}

void SelectListViewItem(const Window& list, int index) {
    if (index < 0 || index >= ListViewCount(list))
        throw Error("no row " + std::to_string(index) + " in " + list.Describe());
    RemoteMemory memory(list, sizeof(LVITEMW));
    for (int row : ListViewSelection(list))
        if (row != index)
            SetRowState(list, memory, row, 0);
    SetRowState(list, memory, index, LVIS_SELECTED | LVIS_FOCUSED);
    SendTo(list, LVM_ENSUREVISIBLE, index, FALSE);
}

std::vector<std::wstring> TabItems(const Window& tabs) {
    constexpr int kChars = 256;
    RemoteMemory memory(tabs, sizeof(TCITEMW) + kChars * sizeof(wchar_t));
    std::vector<std::wstring> items;
    const int count = (int)SendTo(tabs, TCM_GETITEMCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = reinterpret_cast<wchar_t*>(memory.at(sizeof(TCITEMW)));
        item.cchTextMax = kChars;
        memory.Write(&item, sizeof item);
        wchar_t text[kChars] = {};
        memory.Write(text, sizeof text, sizeof(TCITEMW));
        if (!SendTo(tabs, TCM_GETITEMW, i, (LPARAM)memory.at()))
            throw Error("no tab " + std::to_string(i) + " in " + tabs.Describe());
        // The control may point pszText at a text of its own instead of copying into the buffer.
        memory.Read(&item, sizeof item);
        if (item.pszText != reinterpret_cast<wchar_t*>(memory.at(sizeof(TCITEMW))))
            throw Error("tab " + std::to_string(i) + " of " + tabs.Describe() + " gave no text in the buffer");
        memory.Read(text, sizeof text, sizeof(TCITEMW));
        text[kChars - 1] = L'\0';
        items.emplace_back(text);
    }
    return items;
}

int TabSelection(const Window& tabs) { return (int)SendTo(tabs, TCM_GETCURSEL, 0, 0); }

void SelectTab(const Window& tabs, int index) {
    if (index < 0 || index >= (int)SendTo(tabs, TCM_GETITEMCOUNT, 0, 0))
        throw Error("no tab " + std::to_string(index) + " in " + tabs.Describe());
    // The tab's rectangle, in the control's client coordinates.
    RemoteMemory memory(tabs, sizeof(RECT));
    if (!SendTo(tabs, TCM_GETITEMRECT, index, (LPARAM)memory.at()))
        throw Error("no rectangle for tab " + std::to_string(index) + " of " + tabs.Describe());
    RECT r;
    memory.Read(&r, sizeof r);
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    if (!PostMessageW(tabs.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at) || !PostMessageW(tabs.hwnd(), WM_LBUTTONUP, 0, at))
        throw Error(Failed("clicking tab " + std::to_string(index) + " of " + tabs.Describe()));
    // The control has handled the click (and its parent the notifications) once the selection
    // moved. A change the parent refuses leaves it: then the wait runs out.
    WaitUntil([&] { return TabSelection(tabs) == index; }, 5s);
    SendTo(tabs, WM_NULL, 0, 0);
}

void PressCloseBox(const Window& window) {
    if (!window || !PostMessageW(window.hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0))
        throw Error(Failed("pressing the close box of " + window.Describe()));
}

}  // namespace e2e
