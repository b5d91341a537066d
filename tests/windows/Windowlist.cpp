// A test's eyes on a Windows program's window, from outside it, as an
// accessibility tool would look:
//
//   windowlist controls TITLE [SECONDS]   waits for the top-level window of that
//                                         exact title and lists it and its child
//                                         controls, one a line
//   windowlist count TITLE                how many visible top-level windows have
//                                         that exact title
//   windowlist shortcut FILE.lnk          the target, arguments and working folder
//                                         of a shortcut
//   windowlist version FILE.exe           what Explorer shows of a program: its
//                                         version resource's texts and its icons
//   windowlist devicechange TITLE         tells that window that the system's
//                                         devices changed (WM_DEVICECHANGE,
//                                         DBT_DEVNODES_CHANGED), as Windows tells
//                                         every top-level window when an adapter
//                                         is plugged in or out
//
// A control's line: handle, id, class, visible (1/0), its screen rectangle
// (left top right bottom) and its text (WM_GETTEXT), tab-separated; a combo
// box adds its selected index, its items joined by "|" and the height of an
// item in its list. The window itself
// comes first, with id 0, and adds the screen rectangle of its client area
// and the handle of the window that owns it (0 for none). A combo box's list,
// while it is dropped, comes last, with id -1. Texts are UTF-8; a tab or line break in a text shows
// as a blank. Exit status 1 when the window never came or the file is no
// shortcut.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    for (char& c : out)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    return out;
}

std::wstring TextOf(HWND hwnd) {
    // WM_GETTEXT crosses into the other process; GetWindowText would not.
    const auto length = static_cast<int>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0));
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}

std::string ComboOf(HWND hwnd) {
    const auto count = static_cast<int>(SendMessageW(hwnd, CB_GETCOUNT, 0, 0));
    std::string items;
    for (int i = 0; i < count; ++i) {
        const auto length = static_cast<int>(SendMessageW(hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0));
        std::vector<wchar_t> item(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
        SendMessageW(hwnd, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data()));
        if (i) items += '|';
        items += Utf8(item.data());
    }
    const auto selected = static_cast<int>(SendMessageW(hwnd, CB_GETCURSEL, 0, 0));
    const auto itemHeight = static_cast<int>(SendMessageW(hwnd, CB_GETITEMHEIGHT, 0, 0));
    return "\t" + std::to_string(selected) + "\t" + items + "\t" + std::to_string(itemHeight);
}

void PrintLine(HWND hwnd, int id, bool topLevel) {
    wchar_t className[256] = L"";
    GetClassNameW(hwnd, className, 256);
    RECT r{};
    GetWindowRect(hwnd, &r);
    std::string line = std::to_string(reinterpret_cast<uintptr_t>(hwnd)) + "\t" + std::to_string(id) + "\t" +
                       Utf8(className) + "\t" + (IsWindowVisible(hwnd) ? "1" : "0") + "\t" + std::to_string(r.left) +
                       "\t" + std::to_string(r.top) + "\t" + std::to_string(r.right) + "\t" +
                       std::to_string(r.bottom) + "\t" + Utf8(TextOf(hwnd));
    if (_wcsicmp(className, L"ComboBox") == 0) line += ComboOf(hwnd);
    if (topLevel) {
        RECT client{};
        GetClientRect(hwnd, &client);
        POINT origin{0, 0};
        ClientToScreen(hwnd, &origin);
        line += "\t" + std::to_string(origin.x) + "\t" + std::to_string(origin.y) + "\t" +
                std::to_string(origin.x + client.right) + "\t" + std::to_string(origin.y + client.bottom) + "\t" +
                std::to_string(reinterpret_cast<uintptr_t>(GetWindow(hwnd, GW_OWNER)));
    }
    std::printf("%s\n", line.c_str());
}

BOOL CALLBACK PrintChild(HWND hwnd, LPARAM) {
    PrintLine(hwnd, GetDlgCtrlID(hwnd), false);
    return TRUE;
}

// The dropped list of a combo box is a window of its own, beside the window.
BOOL CALLBACK PrintDroppedList(HWND hwnd, LPARAM) {
    wchar_t className[64] = L"";
    GetClassNameW(hwnd, className, 64);
    if (_wcsicmp(className, L"ComboLBox") == 0 && IsWindowVisible(hwnd)) PrintLine(hwnd, -1, false);
    return TRUE;
}

int Controls(const std::wstring& title, double seconds) {
    const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    HWND window = nullptr;
    while (!(window = FindWindowW(nullptr, title.c_str())) && GetTickCount64() < until) Sleep(100);
    if (!window) {
        std::fprintf(stderr, "windowlist: no window \"%s\"\n", Utf8(title).c_str());
        return 1;
    }
    PrintLine(window, 0, true);
    EnumChildWindows(window, &PrintChild, 0);
    EnumThreadWindows(GetWindowThreadProcessId(window, nullptr), &PrintDroppedList, 0);
    return 0;
}

struct TCount {
    const std::wstring* title;
    int count = 0;
};

BOOL CALLBACK CountTitled(HWND hwnd, LPARAM param) {
    auto* count = reinterpret_cast<TCount*>(param);
    if (IsWindowVisible(hwnd) && TextOf(hwnd) == *count->title) ++count->count;
    return TRUE;
}

int Count(const std::wstring& title) {
    TCount count{&title};
    EnumWindows(&CountTitled, reinterpret_cast<LPARAM>(&count));
    std::printf("%d\n", count.count);
    return 0;
}

int Shortcut(const std::wstring& file) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* link = nullptr;
    IPersistFile* persist = nullptr;
    int status = 1;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
        SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
        wchar_t target[MAX_PATH] = L"", arguments[1024] = L"", folder[MAX_PATH] = L"";
        link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
        link->GetArguments(arguments, 1024);
        link->GetWorkingDirectory(folder, MAX_PATH);
        std::printf("target\t%s\narguments\t%s\nfolder\t%s\n", Utf8(target).c_str(), Utf8(arguments).c_str(),
                    Utf8(folder).c_str());
        status = 0;
    } else {
        std::fprintf(stderr, "windowlist: %s is no shortcut\n", Utf8(file).c_str());
    }
    if (persist) persist->Release();
    if (link) link->Release();
    CoUninitialize();
    return status;
}

int Version(const std::wstring& file) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
    std::vector<char> info(size);
    if (size == 0 || !GetFileVersionInfoW(file.c_str(), 0, size, info.data())) {
        std::fprintf(stderr, "windowlist: %s has no version\n", Utf8(file).c_str());
        return 1;
    }
    struct Translation {
        WORD language, codePage;
    }* translations = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &length) ||
        length < sizeof(Translation)) {
        std::fprintf(stderr, "windowlist: %s names no language for its version\n", Utf8(file).c_str());
        return 1;
    }
    wchar_t block[64];
    swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translations->language, translations->codePage);
    for (const wchar_t* name : {L"ProductName", L"ProductVersion", L"FileDescription", L"FileVersion", L"CompanyName"}) {
        wchar_t* value = nullptr;
        UINT chars = 0;
        const std::wstring key = std::wstring(block) + name;
        const bool found = VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &chars) && value;
        std::printf("%s\t%s\n", Utf8(name).c_str(), found ? Utf8(value).c_str() : "");
    }
    std::printf("icons\t%u\n", ExtractIconExW(file.c_str(), -1, nullptr, nullptr, 0));
    return 0;
}

int DeviceChange(const std::wstring& title) {
    HWND window = FindWindowW(nullptr, title.c_str());
    if (!window) {
        std::fprintf(stderr, "windowlist: no window %s\n", Utf8(title).c_str());
        return 1;
    }
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(window, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wstring(argv[1]) == L"controls")
        return Controls(argv[2], argc >= 4 ? _wtof(argv[3]) : 10.0);
    if (argc == 3 && std::wstring(argv[1]) == L"count") return Count(argv[2]);
    if (argc == 3 && std::wstring(argv[1]) == L"shortcut") return Shortcut(argv[2]);
    if (argc == 3 && std::wstring(argv[1]) == L"version") return Version(argv[2]);
    if (argc == 3 && std::wstring(argv[1]) == L"devicechange") return DeviceChange(argv[2]);
    std::fprintf(stderr,
                 "usage: windowlist controls TITLE [SECONDS] | count TITLE | shortcut FILE.lnk | version FILE.exe | "
                 "devicechange TITLE\n");
    return 2;
}
