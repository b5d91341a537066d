// rand_s, the C library's door to the system's random source, is declared only on request.
#define _CRT_RAND_S

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "records/Systemservices.h"
#include "toolkit/Win32text.h"

namespace tolm::records {

bool RandomBytes(void* buffer, size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    for (size_t i = 0; i < size; i += sizeof(unsigned int)) {
        unsigned int value = 0;
        if (rand_s(&value) != 0) return false;
        for (size_t k = 0; k < sizeof value && i + k < size; ++k) bytes[i + k] = static_cast<unsigned char>(value >> (8 * k));
    }
    return true;
}

std::string HostName() {
    wchar_t name[256];
    DWORD length = sizeof name / sizeof name[0];
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &length)) return {};
    return WideToUtf8(std::wstring(name, length));
}

std::optional<std::string> EnvironmentText(const std::string& name) {
    const wchar_t* value = _wgetenv(Utf8ToWide(name).c_str());
    if (!value) return std::nullopt;
    return WideToUtf8(value);
}

namespace {
std::string Reason(DWORD error) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason = text ? WideToUtf8(text) : "error " + std::to_string(error);
    LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) reason.pop_back();
    return reason;
}
}  // namespace

bool WriteFileDurably(const std::string& path, const std::string& bytes, std::string& why) {
    static std::atomic<unsigned> counter{0};
    const std::wstring target = Utf8ToWide(path);
    const std::wstring temp =
        target + L".~" + std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(counter++);
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = "cannot create " + WideToUtf8(temp) + ": " + Reason(GetLastError());
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size() && FlushFileBuffers(file);
    DWORD error = GetLastError();
    ok = CloseHandle(file) && ok;
    // MOVEFILE_WRITE_THROUGH returns once the rename is on the disk.
    if (ok && !MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        error = GetLastError();
    }
    if (!ok) {
        why = "cannot write " + path + ": " + Reason(error);
        DeleteFileW(temp.c_str());
    }
    return ok;
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

bool ProcessRunning(long pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool running = !GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}

}  // namespace tolm::records
