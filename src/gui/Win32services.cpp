#include "gui/Win32services.h"

#include <commdlg.h>

#include <cwchar>
#include <vector>

#include "gui/Filechoice.h"
#include "gui/Guithread.h"
#include "toolkit/Win32text.h"

namespace tolm {

// ----------------------------------------------------------- message boxes

UINT TWin32MessageSink::IconFlags(TMsgIcon icon) {
    switch (icon) {
    case TMsgIcon::Information:
        return MB_ICONINFORMATION;
    case TMsgIcon::Warning:
        return MB_ICONWARNING;
    case TMsgIcon::Error:
        return MB_ICONERROR;
    case TMsgIcon::Question:
        return MB_ICONQUESTION;
    case TMsgIcon::None:
        break;
    }
    return 0;
}

void TWin32MessageSink::ShowBox(const std::string& text, const std::string& caption, TMsgIcon icon) {
    HWND owner = owner_.load();
    if (owner && !IsWindow(owner)) owner = nullptr;
    MessageBoxW(owner, Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(), MB_OK | IconFlags(icon));
}

// ------------------------------------------------------------- file choice

std::wstring DialogFilter(const std::string& filter) {
    std::wstring out;
    for (const TFilterPair& pair : FilterPairs(filter)) {
        if (pair.patterns.empty()) continue;
        out += Utf8ToWide(pair.description.empty() ? pair.patterns : pair.description);
        out += L'\0';
        out += Utf8ToWide(pair.patterns);
        out += L'\0';
    }
    out += L'\0';
    return out;
}

namespace {

std::wstring FullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return path;
    full.resize(length);
    return full;
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

bool TWin32FileChooser::operator()(const TOpenDialog& dialog, std::string& chosenPath) const {
    if (!IsGuiThread())
        return ChooseOnGuiThread(dialog, chosenPath,
                                 [this](const TOpenDialog& settings, std::string& path) { return (*this)(settings, path); });
    const std::wstring variable = Utf8ToWide(kScriptedFileVariable);
    if (const wchar_t* scripted = _wgetenv(variable.c_str())) {
        if (*scripted == L'\0') return false;
        chosenPath = WideToUtf8(FullPath(scripted));
        return true;
    }

    const std::wstring filter = DialogFilter(dialog.Filter);
    std::vector<wchar_t> file(32768, L'\0');
    const std::wstring folder = dialog.FileName.empty() ? std::wstring() : FolderOf(Utf8ToWide(dialog.FileName));
    OPENFILENAMEW box{};
    box.lStructSize = sizeof box;
    box.hwndOwner = IsWindow(owner_) ? owner_ : nullptr;
    box.lpstrFilter = filter.c_str();
    box.nFilterIndex = 1;
    box.lpstrFile = file.data();
    box.nMaxFile = static_cast<DWORD>(file.size());
    box.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    box.lpstrTitle = L"Open";
    box.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&box) || file[0] == L'\0') return false;
    chosenPath = WideToUtf8(file.data());
    return true;
}

}  // namespace tolm
