// The diagnostic log on Windows: %LOCALAPPDATA%\Tolm Upgrade\DUMMY.TXT. The
// root of the system drive, where the log first lived, is not writable for an
// operator without administrator rights; the per-user folder always is.
#include "base/Logfile.h"

#include <cwchar>

#include "toolkit/Win32text.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shlobj.h>

namespace tolm {

namespace {
// The user's local application-data folder; empty when there is none.
std::wstring LocalAppData() {
    if (const wchar_t* dir = _wgetenv(L"LOCALAPPDATA"); dir && *dir) return dir;
    std::wstring found;
    PWSTR dir = nullptr;
    if (SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &dir) == S_OK) found = dir;
    CoTaskMemFree(dir);
    return found;
}

std::wstring LogFolder() {
    const std::wstring base = LocalAppData();
    return base.empty() ? std::wstring() : base + L"\\Tolm Upgrade";
}
}  // namespace

std::string DefaultLogPath() {
    const std::wstring dir = LogFolder();
    return dir.empty() ? std::string() : WideToUtf8(dir + L"\\DUMMY.TXT");
}

int AppendLogLine(const std::string& path, const std::string& line) {
    if (path == DefaultLogPath()) CreateDirectoryW(LogFolder().c_str(), nullptr);  // may exist already
    // Appended by the system at the end of the file, whatever other writers do;
    // a link at the log's name is opened as itself and refused below.
    HANDLE file = CreateFileW(Utf8ToWidePath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        CloseHandle(file);
        return -1;
    }
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return CloseHandle(file) ? 0 : -1;
}

}  // namespace tolm
