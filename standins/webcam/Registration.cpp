// The registry entries of the stand-in devices (layout in StandinWebcam.h).
#include "standins/webcam/Formats.h"
#include "standins/webcam/Module.h"
#include "standins/webcam/StandinWebcam.h"

#include <cwctype>
#include <vector>

namespace {

const wchar_t kInstanceRoot[] = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance";

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring ClassKey() { return L"CLSID\\" + GuidText(CLSID_StandinWebcam); }

// Also a kernel object name and a registry key name: no separators or spaces.
bool ValidInstance(const wchar_t* name) {
    if (!name || !*name || wcslen(name) > 100) return false;
    for (const wchar_t* c = name; *c; ++c)
        if (!iswalnum(*c) && *c != L'.' && *c != L'-' && *c != L'_') return false;
    return true;
}

LSTATUS SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS SetDword(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// Writes the values of one key; on failure the first error.
class KeyWriter {
public:
    explicit KeyWriter(const std::wstring& path) {
        status_ = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key_,
                                  nullptr);
    }
    ~KeyWriter() {
        if (key_) RegCloseKey(key_);
    }
    KeyWriter(const KeyWriter&) = delete;
    KeyWriter& operator=(const KeyWriter&) = delete;
    void String(const wchar_t* name, const std::wstring& value) {
        if (!status_) status_ = SetString(key_, name, value);
    }
    void Dword(const wchar_t* name, DWORD value) {
        if (!status_) status_ = SetDword(key_, name, value);
    }
    HRESULT Result() const { return HRESULT_FROM_WIN32(status_); }

private:
    HKEY key_ = nullptr;
    LSTATUS status_;
};

HRESULT DeleteTree(const std::wstring& path) {
    LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    if (status == ERROR_FILE_NOT_FOUND) return S_FALSE;
    return HRESULT_FROM_WIN32(status);
}

}  // namespace

HRESULT RegisterFilterClass() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (!length || length == MAX_PATH) return E_FAIL;
    KeyWriter cls(ClassKey());
    cls.String(nullptr, L"Standin Webcam");
    if (FAILED(cls.Result())) return cls.Result();
    KeyWriter server(ClassKey() + L"\\InprocServer32");
    server.String(nullptr, path);
    server.String(L"ThreadingModel", L"Both");
    return server.Result();
}

HRESULT UnregisterAll() {
    std::vector<std::wstring> ours;
    HKEY root;
    if (!RegOpenKeyExW(HKEY_CLASSES_ROOT, kInstanceRoot, 0, KEY_READ, &root)) {
        const std::wstring clsid = GuidText(CLSID_StandinWebcam);
        wchar_t name[256], value[40];
        for (DWORD i = 0;; ++i) {
            DWORD nameLength = 256;
            if (RegEnumKeyExW(root, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr)) break;
            DWORD bytes = sizeof value;
            if (!RegGetValueW(root, name, L"CLSID", RRF_RT_REG_SZ, nullptr, value, &bytes) &&
                _wcsicmp(value, clsid.c_str()) == 0)
                ours.push_back(std::wstring(kInstanceRoot) + L"\\" + name);
        }
        RegCloseKey(root);
    }
    HRESULT result = S_OK;
    for (const auto& path : ours)
        if (FAILED(DeleteTree(path))) result = E_FAIL;
    if (FAILED(DeleteTree(ClassKey()))) result = E_FAIL;
    return result;
}

extern "C" HRESULT WINAPI StandinWebcamAdd(const wchar_t* instance, const wchar_t* friendlyName,
                                           const wchar_t* description, const wchar_t* formats, int pins,
                                           BOOL failBind) {
    std::vector<VideoFormat> parsed;
    if (!ValidInstance(instance) || !ParseFormats(formats ? formats : kStandinDefaultFormats, parsed) ||
        pins < 1 || pins > 4 || static_cast<size_t>(pins) > parsed.size())
        return E_INVALIDARG;
    HRESULT hr = RegisterFilterClass();
    if (FAILED(hr)) return hr;
    const std::wstring path = std::wstring(kInstanceRoot) + L"\\" + instance;
    hr = DeleteTree(path);
    if (FAILED(hr)) return hr;
    KeyWriter key(path);
    key.String(L"CLSID", GuidText(CLSID_StandinWebcam));
    key.String(L"FriendlyName", friendlyName ? friendlyName : instance);
    if (description) key.String(L"Description", description);
    key.String(L"StandinInstance", instance);
    key.String(L"StandinFormats", FormatsText(parsed));
    key.Dword(L"StandinPins", pins);
    key.Dword(L"StandinFailBind", failBind ? 1 : 0);
    return key.Result();
}

extern "C" HRESULT WINAPI StandinWebcamRemove(const wchar_t* instance) {
    if (!ValidInstance(instance)) return E_INVALIDARG;
    return DeleteTree(std::wstring(kInstanceRoot) + L"\\" + instance);
}

extern "C" HRESULT WINAPI StandinWebcamClear() { return UnregisterAll(); }

extern "C" HRESULT WINAPI StandinWebcamLose(const wchar_t* instance) {
    if (!ValidInstance(instance)) return E_INVALIDARG;
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, StandinWebcamLostEvent(instance).c_str());
    if (!event) return HRESULT_FROM_WIN32(GetLastError());
    SetEvent(event);
    CloseHandle(event);
    return S_OK;
}
